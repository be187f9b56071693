// Module load and unload as the glue sees them: the parameter table, the
// request table and the capability table.
#include <vector>

#include "core/orv_ioctl.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/tests/kernel_fixture.h"

namespace {

using ktest::KernelTest;

// The X driver's ten requests with (0, 1), then the 3D clients' three with
// (1, 0); every one registered with kind 1.
std::vector<kglue::IoctlTableCall> ExpectedRegistrations(bool registered) {
  const uint32_t xdriver[] = {0xC0804614, 0xC0084615, 0x40084616, 0x40044617, 0xC0804618,
                              0x40804619, 0xC060461A, 0xC018461B, 0x4018461C, 0x4010461D};
  const uint32_t clients[] = {0xC038461F, 0x00004620, 0x00004621};
  std::vector<kglue::IoctlTableCall> calls;
  for (uint32_t code : xdriver)
    calls.push_back(registered ? kglue::IoctlTableCall{true, code, 1, 0, 1}
                               : kglue::IoctlTableCall{false, code, 0, 0, 0});
  for (uint32_t code : clients)
    calls.push_back(registered ? kglue::IoctlTableCall{true, code, 1, 1, 0}
                               : kglue::IoctlTableCall{false, code, 0, 0, 0});
  return calls;
}

TEST_F(KernelTest, LoadRegistersTheThirteenRequestsAndFillsTheTablesOnce) {
  EXPECT_EQ(glue.IoctlTableCalls(), ExpectedRegistrations(true));
  EXPECT_EQ(glue.Registrations().size(), 13u);
  EXPECT_EQ(glue.ParameterTableCalls(), 1);
  EXPECT_TRUE(glue.ParameterTableHandedOver());
  // The format capability table is filled at load.
  EXPECT_EQ(FormatCapabilityCount(), 224u);
}

TEST_F(KernelTest, UnloadUnregistersTheSameCodesInOrderAndLoadWorksAgain) {
  glue.Unload();
  std::vector<kglue::IoctlTableCall> expected = ExpectedRegistrations(true);
  const std::vector<kglue::IoctlTableCall> unregistered = ExpectedRegistrations(false);
  expected.insert(expected.end(), unregistered.begin(), unregistered.end());
  EXPECT_EQ(glue.IoctlTableCalls(), expected);
  EXPECT_TRUE(glue.Registrations().empty());
  EXPECT_TRUE(glue.Misuses().empty());

  glue.Load();
  EXPECT_EQ(glue.Registrations().size(), 13u);
  EXPECT_EQ(glue.ParameterTableCalls(), 2);
  // The reloaded module serves its requests again.
  MakeDevice();
  kglue::File* file = glue.Open(device);
  EXPECT_NE(Enable(file, 0), nullptr);
}

}  // namespace
