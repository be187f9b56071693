// Vertex programs found or built by the board's builder over a started
// board, for the state key and inputs a test sets; the programs built go
// on the fixture's list, which is emptied (each program detached from the
// builder) when a test asks for a fresh cache and after every test.
#pragma once

#include <gtest/gtest.h>

#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/tests/stream_fixture.h"

namespace tnltest {

class ProgramBoard : public ktest::StartedBoard {
 protected:
  VertexProgramBuilder* B() { return Common()->vertexProgramBuilder; }

  // Drops every built program (a fresh cache).
  void ClearList() {
    while (VertexProgramNode* n = list.Head()) {
      VertexProgram* p = n->program;
      list.Unlink(n);
      delete n;
      B()->DetachProgram(p, nullptr);
      delete p;
    }
  }
  void TearDown() override {
    ClearList();
    StartedBoard::TearDown();
  }

  TnlStateKey tnl;
  TnlProgramInputs render = {};
  VertexProgramList list;
};

}  // namespace tnltest
