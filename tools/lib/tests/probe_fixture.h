// A probe test on a fixture system root of its own: the board records and
// the extension connection are reset around every test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tools/lib/File.h"
#include "tools/lib/XCommInterface.h"
#include "tools/lib/carddb.h"
#include "tools/lib/tests/sysfixture.h"

class ProbeRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    ORVCommResetForTesting();
    CardFreeAttributes();
    SysRootSet(tree_.Root());
  }
  void TearDown() override {
    CardFreeAttributes();
    ORVCommResetForTesting();
    SetDatabaseCardFile(nullptr);
    SysRootSet("/");
  }
  // Writes `text` as the database in a directory of its own and selects it.
  void UseDatabase(const std::string& text) {
    tree_.Write("db/orvcards", text);
    dir_ = tree_.Path("db");
    SetDatabaseCardFile(dir_.c_str());
  }

  TempTree tree_;
  std::string dir_;
};
