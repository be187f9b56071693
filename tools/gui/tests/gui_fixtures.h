// Stand-ins for the configuration library and the user's dialogs, and board
// records built in code.
#pragma once

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "tools/gui/ConfigEngine.h"
#include "tools/gui/WindowUtils.h"
#include "tools/lib/Probe.h"

class FakeEngine : public ConfigEngine {
 public:
  XConfigSummary summary;
  int probeResult = 0;
  int updateResult = 0;
  // Each rewrite asked for, with its own copy of the file name.
  struct Update : UserSelection {
    std::string outputFile;
  };
  std::vector<Update> updates;
  std::vector<std::string> calls;

  int InitCore() override {
    calls.push_back("init");
    return 0;
  }
  int ProbeXConfig(XConfigSummary* out) override {
    calls.push_back("probe");
    *out = summary;
    return probeResult;
  }
  void ProbeCard(CardInfo*) override { calls.push_back("card"); }
  void ProbeDrivers(DriverInfo* info) override {
    std::strcpy(info->qlbVersion, "2.3.258");
    std::strcpy(info->orvVersion, "1.4.7");
    info->kernelModuleInstalled = 7;
  }
  int UpdateConfigFile(const UserSelection& selection) override {
    calls.push_back("update");
    updates.push_back({selection, selection.outputFile != nullptr ? selection.outputFile : ""});
    return updateResult;
  }
  int ClearModelines(const char*) override {
    calls.push_back("clear");
    return 0;
  }
  int AddModelines(PrivateList*, const char*) override {
    calls.push_back("add");
    return 0;
  }
};

// Answers the questions from `answers` (no once they run out) and keeps
// every question and message.
class ScriptedDialogs : public UserDialogs {
 public:
  std::deque<bool> answers;
  std::vector<std::string> questions;
  std::vector<std::pair<std::string, std::string>> messages;  // title, text
  bool Ask(const std::string& q) override {
    questions.push_back(q);
    if (answers.empty()) return false;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  void Message(const std::string& text, const std::string& title) override { messages.emplace_back(title, text); }
};

struct ModeRow {
  int output;
  const char* resolution;
  std::vector<int> rates;
};

inline CardMonitorMode MakeMode(const ModeRow& row) {
  CardMonitorMode m{};
  m.output = row.output;
  std::strcpy(m.resolution, row.resolution);
  size_t i = 0;
  for (; i < row.rates.size() && i + 1 < kMaxRefreshRates; ++i) m.refresh[i] = row.rates[i];
  m.refresh[i] = -1;
  return m;
}

struct LayoutRow {
  int outputs;  // 1-4
  int layout;
  int mode;
  int rotation;
};

// Fills `card` with a board of the given kind; the lists belong to it.
inline void MakeCard(CardInfo* card, const char* busId, const char* name, bool kvd,
                     const std::vector<int>& counts, const std::vector<LayoutRow>& layouts,
                     const std::vector<ModeRow>& modes, const std::vector<ModeRow>& fallback) {
  std::memset(card, 0, sizeof *card);
  std::strcpy(card->busId, busId);
  std::strcpy(card->name, name);
  std::strcpy(card->driver, "orv");
  card->kvd = kvd ? 1 : 0;
  card->openGL = 1;
  size_t i = 0;
  for (; i < counts.size(); ++i) card->outputCounts[i] = counts[i];
  card->outputCounts[i] = -1;
  for (const LayoutRow& l : layouts) AppendLayout(card, l.outputs - 1, l.layout, l.mode, l.rotation);
  for (const ModeRow& m : modes) {
    CardMonitorMode mode = MakeMode(m);
    card->resolutions = PrivateListAppend(card->resolutions, &mode, sizeof mode, nullptr);
  }
  for (const ModeRow& m : fallback) {
    CardMonitorMode mode = MakeMode(m);
    card->fallbackResolutions = PrivateListAppend(card->fallbackResolutions, &mode, sizeof mode, nullptr);
  }
}
