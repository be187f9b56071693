// A program whose own definition of a glue service's name comes first in
// the dynamic linker's search: a module opened there would run on the
// program's function, not the glue's, so the glue refuses to open one.
#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

// The program's own memAlloc, exported (as the X driver's build of the
// driver core would be in a program that exports its symbols).
void* memAlloc(size_t size) { return calloc(1, size); }

namespace {

TEST(GlueInAProgramThatDefinesAService, RefusesToOpenAModuleAndNamesTheService) {
  orvsim::Simulation sim;
  kglue::Glue glue;
  // The check comes before the file is looked at.
  const std::string why = glue.OpenModule("/nonexistent/orv.so");
  EXPECT_NE(why.find("defines _Z8memAllocm itself"), std::string::npos) << why;
  // The glue's own allocator is still the one its services use.
  EXPECT_EQ(glue.LiveBlocks().size(), 0u);
  void* block = ::memFileAlloc(16, __FILE__, __LINE__);
  EXPECT_EQ(glue.LiveBlocks().size(), 1u);
  memFree(block);
}

}  // namespace
