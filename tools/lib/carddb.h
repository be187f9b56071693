// The board database: what each board can do, read from the file
// "orvcards" and looked up by the board's PCI subsystem id. When the
// configuration extension answers, the running driver's description of
// board 0 comes first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/lib/List.h"

enum CardDriverFamily : int32_t { kDriverOrv = 1, kDriverQlb = 2 };

struct CardAttribute {
  uint32_t boardId;  // PCI subsystem id
  char name[100];
  int32_t driver;    // CardDriverFamily
  int32_t kvd;       // 1 for the quad-display series
  int32_t outputs;
  int32_t openGL;
};

constexpr const char* kCardFileName = "orvcards";
constexpr const char* kDefaultCardFile = "/usr/share/orvane/current/orvcards";

// The directory to read "orvcards" from instead of the default place. The
// text is kept, not copied. Directory names longer than 99 characters are
// ignored.
void SetDatabaseCardFile(const char* directory);
void CardSetDatabaseFile(const char* directory);

// The library's start call: fills the board database.
int InitCoreModule();
// Appends the extension's board and the file's records to the database and
// answers the result of closing the file. An unreadable file or a bad word
// in it ends the process with status 1.
int CardFillAttributes();
// The first record with this id, else the record of an unknown board
// (id 0, "unknown", orv, no KVD, 2 outputs, no OpenGL).
CardAttribute CardFindAttribute(uint32_t boardId);
enum class CardDbError { kNone, kBadDriver, kBadBoolean };
struct CardDbStatus {
  CardDbError error = CardDbError::kNone;
  std::string word;  // the offending word
};
// Appends the records of a database file to `list`; stops at the first bad
// driver or boolean word and says which.
CardDbStatus CardReadDatabase(FILE* file, PrivateList** list);

// The records in reading order.
const PrivateList* CardAttributeList();
void CardFreeAttributes();

// "true"/"yes" give 1, "false"/"no" 0, in any case; an empty word gives
// `defaultValue`. Any other word ends the process with status 1.
int Str2Bool(const char* word, int defaultValue);
