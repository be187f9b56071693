#include "tools/lib/carddb.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "core/orvcfg_records.h"
#include "tools/lib/File.h"
#include "tools/lib/Log.h"
#include "tools/lib/XCommInterface.h"

namespace {

constexpr size_t kLinePiece = 100;  // lines are read 99 characters at a time
constexpr size_t kMaxDirectoryLength = 99;

PrivateList* m_oPtr = nullptr;
const char* szDatabaseCardFile = nullptr;

int CompareFind(const void* payload, const void* key, int /*keyNumber*/) {
  uint32_t id, wanted;
  std::memcpy(&id, payload, sizeof id);
  std::memcpy(&wanted, key, sizeof wanted);
  return id == wanted;
}

void Append(const CardAttribute& card) {
  m_oPtr = PrivateListAppend(m_oPtr, &card, sizeof card, nullptr);
}

void CopyName(char (&to)[100], const char* from, size_t fromSize) {
  size_t n = strnlen(from, fromSize);
  if (n >= sizeof to) n = sizeof to - 1;
  std::memcpy(to, from, n);
  to[n] = '\0';
}

void AddExtensionBoard() {
  if (!ORVCommIsORVCfgExtFound()) return;
  ORVCFGGenericBoardCap cap{};
  // Without an answer there is no description to put first.
  if (!ORVCommGetGenericBoardCap(0, &cap)) return;
  CardAttribute card{};
  CopyName(card.name, cap.szName, sizeof cap.szName);
  card.boardId = cap.ulSubsystemId;
  card.driver = int32_t(cap.ulDriverFamily);
  // A failed capability request answers -1: not the quad-display series.
  card.kvd = ORVCommGetSpecificBoardCap(0, ORVCFG_CAP_KVD) == 1 ? 1 : 0;
  card.outputs = int32_t(cap.ulMaxOutputs);
  card.openGL = int32_t(cap.ulOpenGL);
  Append(card);
}

std::string CardFilePath() {
  if (szDatabaseCardFile && std::strlen(szDatabaseCardFile) <= kMaxDirectoryLength)
    return std::string(szDatabaseCardFile) + "/" + kCardFileName;
  return SysRootPath(kDefaultCardFile);
}

// Drops the comment and the surrounding blanks, in place.
char* CleanLine(char* line) {
  if (char* hash = std::strchr(line, '#')) *hash = '\0';
  while (*line == ' ' || *line == '\t' || *line == '\n') ++line;
  size_t n = std::strlen(line);
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\n')) --n;
  line[n] = '\0';
  return line;
}

// 0 for a word that names no family.
int32_t DriverFamily(const char* word) {
  if (strcasecmp(word, "orv") == 0) return kDriverOrv;
  if (strcasecmp(word, "qlb") == 0) return kDriverQlb;
  return 0;
}

// -1 for a word that is not a boolean.
int ParseBool(const char* word, int defaultValue) {
  if (word == nullptr || *word == '\0') return defaultValue;
  if (strcasecmp(word, "true") == 0 || strcasecmp(word, "yes") == 0) return 1;
  if (strcasecmp(word, "false") == 0 || strcasecmp(word, "no") == 0) return 0;
  return -1;
}

}  // namespace

void SetDatabaseCardFile(const char* directory) { szDatabaseCardFile = directory; }
void CardSetDatabaseFile(const char* directory) { szDatabaseCardFile = directory; }

int InitCoreModule() { return CardFillAttributes(); }

int Str2Bool(const char* word, int defaultValue) {
  int value = ParseBool(word, defaultValue);
  if (value < 0) {
    ErrorF("unrecognized boolean value in card db file: %s\n", word);
    std::exit(1);
  }
  return value;
}

CardDbStatus CardReadDatabase(FILE* file, PrivateList** list) {
  CardDbStatus status;
  // Appending after the last node keeps long files linear.
  PrivateList* tail = *list;
  while (tail && tail->next) tail = tail->next;
  char buffer[kLinePiece];
  CardAttribute pending{};
  bool haveName = false;
  while (std::fgets(buffer, sizeof buffer, file)) {
    char* line = CleanLine(buffer);
    if (*line == '\0') continue;
    if (!haveName) {
      pending = CardAttribute{};
      CopyName(pending.name, line, kLinePiece);
      haveName = true;
      continue;
    }
    unsigned int id = 0;
    int outputs = 0;
    char driver[kLinePiece], kvd[kLinePiece], gl[kLinePiece];
    if (std::sscanf(line, "%x %99s %99s %d %99s", &id, driver, kvd, &outputs, gl) != 5)
      continue;
    pending.boardId = id;
    pending.driver = DriverFamily(driver);
    if (pending.driver == 0) {
      status.error = CardDbError::kBadDriver;
      status.word = driver;
      return status;
    }
    for (auto [word, flag] : {std::pair{kvd, &pending.kvd}, std::pair{gl, &pending.openGL}}) {
      *flag = ParseBool(word, 0);
      if (*flag < 0) {
        status.error = CardDbError::kBadBoolean;
        status.word = word;
        return status;
      }
    }
    pending.outputs = outputs;
    if (tail) {
      PrivateListAppend(tail, &pending, sizeof pending, nullptr);
      tail = tail->next;
    } else {
      *list = tail = PrivateListAppend(nullptr, &pending, sizeof pending, nullptr);
    }
    haveName = false;
  }
  return status;
}

int CardFillAttributes() {
  AddExtensionBoard();

  std::string path = CardFilePath();
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) {
    ErrorF("can't open card files : %s\n", path.c_str());
    std::exit(1);
  }
  CardDbStatus status = CardReadDatabase(f, &m_oPtr);
  switch (status.error) {
    case CardDbError::kNone:
      break;
    case CardDbError::kBadDriver:
      ErrorF("Invalid driver in database file.\n");
      std::exit(1);
    case CardDbError::kBadBoolean:
      ErrorF("unrecognized boolean value in card db file: %s\n", status.word.c_str());
      std::exit(1);
  }
  return std::fclose(f);
}

CardAttribute CardFindAttribute(uint32_t boardId) {
  if (const PrivateList* node = PrivateListFind(m_oPtr, &boardId, 0, CompareFind)) {
    CardAttribute card;
    std::memcpy(&card, node->Payload(), sizeof card);
    return card;
  }
  CardAttribute unknown{};
  std::strcpy(unknown.name, "unknown");
  unknown.driver = kDriverOrv;
  unknown.outputs = 2;
  return unknown;
}

const PrivateList* CardAttributeList() { return m_oPtr; }

void CardFreeAttributes() {
  PrivateDeleteList(m_oPtr);
  m_oPtr = nullptr;
}
