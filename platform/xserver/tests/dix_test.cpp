// The request side: extensions per generation, dispatch by byte order,
// request buffers of the declared length, error packets, windows, screens,
// the Xinerama switch and the DPMS caller.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/xserver/sandbox.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"

namespace {

// What the test extension's procedures saw.
struct Seen {
  std::string proc;
  int req_len = 0;
  unsigned short sequence = 0;
  std::vector<uint8_t> bytes;
};
std::vector<Seen> g_seen;
int g_answer = Success;
XID g_error_value = 0;
std::vector<std::string> g_closed;

int Record(ClientPtr client, const char* proc) {
  Seen s;
  s.proc = proc;
  s.req_len = client->req_len;
  s.sequence = client->sequence;
  const uint8_t* buffer = static_cast<const uint8_t*>(client->requestBuffer);
  s.bytes.assign(buffer, buffer + client->req_len * 4);  // the whole buffer, no more
  g_seen.push_back(s);
  client->errorValue = g_error_value;
  if (g_answer == Success) {
    uint8_t reply[32] = {X_Reply, 7};
    WriteToClient(client, sizeof(reply), reply);
  }
  return g_answer;
}
int Main(ClientPtr client) { return Record(client, "main"); }
int Swapped(ClientPtr client) { return Record(client, "swapped"); }
void CloseDown(ExtensionEntry* e) { g_closed.push_back(e->name); }

class DixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_closed.clear();
    g_answer = Success;
    g_error_value = 0;
  }
  xstub::Sandbox box_;
  xstub::XServer server_;
};

std::vector<uint8_t> Req(uint8_t major, uint8_t minor, uint16_t length, bool swapped,
                         size_t bytes) {
  std::vector<uint8_t> r(bytes, 0xAB);
  r[0] = major;
  r[1] = minor;
  const uint16_t wire = swapped ? static_cast<uint16_t>(length >> 8 | length << 8) : length;
  std::memcpy(&r[2], &wire, 2);
  return r;
}

TEST_F(DixTest, ExtensionsTakeOpcodesInOrderOncePerGeneration) {
  ExtensionEntry* a = AddExtension("A", 0, 0, Main, Swapped, CloseDown, StandardMinorOpcode);
  ExtensionEntry* b = AddExtension("B", 0, 0, Main, Swapped, CloseDown, StandardMinorOpcode);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->base, 128);
  EXPECT_EQ(b->base, 129);
  EXPECT_STREQ(b->name, "B");
  EXPECT_EQ(AddExtension("A", 0, 0, Main, Swapped, nullptr, nullptr), nullptr);
  EXPECT_EQ(AddExtension("C", 0, 0, Main, nullptr, nullptr, nullptr), nullptr);
  server_.FailNextAddExtension();
  EXPECT_EQ(AddExtension("C", 0, 0, Main, Swapped, nullptr, nullptr), nullptr);
  EXPECT_NE(AddExtension("C", 0, 0, Main, Swapped, nullptr, nullptr), nullptr);
  EXPECT_EQ(server_.ExtensionMajor("B"), 129);
  EXPECT_EQ(serverGeneration, 1u);

  server_.ResetServer();
  EXPECT_GT(serverGeneration, 1u);
  EXPECT_EQ(g_closed, (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(server_.ExtensionMajor("A"), -1);
  ExtensionEntry* again = AddExtension("A", 0, 0, Main, Swapped, nullptr, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->base, 128);
}

TEST_F(DixTest, RequestsGoToTheProcedureOfTheClientsByteOrderAtTheirDeclaredLength) {
  ASSERT_NE(AddExtension("T", 0, 0, Main, Swapped, nullptr, StandardMinorOpcode), nullptr);
  ClientPtr normal = server_.NewClient(false);
  ClientPtr swapped = server_.NewClient(true);
  // Longer than declared: only the declared 8 bytes are the request.
  EXPECT_EQ(server_.Request(normal, Req(128, 3, 2, false, 12)), Success);
  // Shorter than declared: the missing bytes read as zero.
  EXPECT_EQ(server_.Request(swapped, Req(128, 4, 3, true, 8)), Success);
  EXPECT_EQ(server_.Request(normal, Req(128, 5, 1, false, 4)), Success);
  ASSERT_EQ(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[0].proc, "main");
  EXPECT_EQ(g_seen[0].req_len, 2);
  EXPECT_EQ(g_seen[0].bytes.size(), 8u);
  EXPECT_EQ(g_seen[0].sequence, 1);
  EXPECT_EQ(g_seen[1].proc, "swapped");
  EXPECT_EQ(g_seen[1].req_len, 3);
  EXPECT_EQ(g_seen[1].bytes, (std::vector<uint8_t>{128, 4, 0, 3, 0xAB, 0xAB, 0xAB, 0xAB, 0, 0, 0, 0}));
  EXPECT_EQ(g_seen[1].sequence, 1);  // counted per client
  EXPECT_EQ(g_seen[2].sequence, 2);
  const std::vector<uint8_t> out = server_.TakeOutput(normal);
  EXPECT_EQ(out.size(), 64u);  // two replies
  EXPECT_TRUE(server_.TakeOutput(normal).empty());
}

TEST_F(DixTest, FailuresReachTheClientAsErrorPacketsInItsByteOrder) {
  ASSERT_NE(AddExtension("T", 0, 0, Main, Swapped, nullptr, StandardMinorOpcode), nullptr);
  g_answer = BadValue;
  g_error_value = 0x11223344;
  for (bool swapped : {false, true}) {
    SCOPED_TRACE(swapped);
    ClientPtr client = server_.NewClient(swapped);
    server_.Request(client, Req(128, 0, 1, swapped, 4));  // sequence 1
    EXPECT_EQ(server_.Request(client, Req(128, 9, 1, swapped, 4)), BadValue);
    const std::vector<uint8_t> out = server_.TakeOutput(client);
    ASSERT_EQ(out.size(), 64u);
    const uint8_t* e = out.data() + 32;
    EXPECT_EQ(e[0], X_Error);
    EXPECT_EQ(e[1], BadValue);
    const std::vector<uint8_t> sequence = swapped ? std::vector<uint8_t>{0, 2} : std::vector<uint8_t>{2, 0};
    EXPECT_EQ(std::vector<uint8_t>(e + 2, e + 4), sequence);
    const std::vector<uint8_t> value = swapped ? std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}
                                               : std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(std::vector<uint8_t>(e + 4, e + 8), value);
    EXPECT_EQ(swapped ? e[9] : e[8], 9);  // the minor opcode
    EXPECT_EQ(e[10], 128);
  }
  // The server's own refusals: an opcode nobody has, a length of zero.
  ClientPtr client = server_.NewClient(false);
  EXPECT_EQ(server_.Request(client, Req(200, 0, 1, false, 4)), BadRequest);
  EXPECT_EQ(server_.Request(client, Req(128, 0, 0, false, 4)), BadLength);
  const std::vector<uint8_t> out = server_.TakeOutput(client);
  ASSERT_EQ(out.size(), 64u);
  EXPECT_EQ(out[1], BadRequest);
  EXPECT_EQ(out[10], 200);
  EXPECT_EQ(out[33], BadLength);
  EXPECT_EQ(g_seen.size(), 4u);  // neither reached the extension
}

TEST_F(DixTest, WindowsScreensXineramaAndPowerLevels) {
  ScrnInfoPtr info0 = server_.NewScrnInfo();
  ScrnInfoPtr info1 = server_.NewScrnInfo();
  ScreenPtr s0 = server_.NewScreen(info0);
  ScreenPtr s1 = server_.NewScreen(info1);
  EXPECT_EQ(screenInfo.numScreens, 2);
  EXPECT_EQ(screenInfo.screens[0], s0);
  EXPECT_EQ(screenInfo.screens[1], s1);

  server_.AddWindow(0x400001, 1);
  WindowPtr w = LookupWindow(0x400001, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->drawable.pScreen, s1);
  EXPECT_EQ(LookupWindow(0x400002, nullptr), nullptr);

  EXPECT_TRUE(noPanoramiXExtension);
  server_.SetXinerama(true);
  EXPECT_FALSE(noPanoramiXExtension);

  EXPECT_FALSE(server_.SetDPMS(0, DPMSModeOff));  // no hook yet
  static std::vector<int> levels;
  levels.clear();
  ASSERT_TRUE(xf86DPMSInit(s0, [](ScrnInfoPtr, int level, int) { levels.push_back(level); }, 0));
  EXPECT_TRUE(server_.SetDPMS(0, DPMSModeStandby));
  EXPECT_TRUE(server_.SetDPMS(0, 7));
  EXPECT_EQ(levels, (std::vector<int>{DPMSModeStandby, 7}));
}

}  // namespace
