// Fuzz target of the tools' reader of the configuration extension's
// replies: any answer a server can give (an error, or a reply of any
// length field and data) to each request of the channel
// (XCommChannel.cpp: Transact, ReadReplyData), through the X client
// library over a socket to a small server in the process
// (platform/orvcfg/fake_orvcfg_server.h), which frames the reply as a
// server does: its sequence number, and as many words after its 32 bytes
// as its length field says.
//
// Input: byte 0 the request (modulo 10: version, boards, board by address,
// mode validation, mode validation by EDID, generic and specific
// capability, output state, generic state, detailed timing); byte 1 how
// the server answers: bit 0 with an error, bit 1 with the length field
// given by byte 2 (words past the reply's 32 bytes) instead of as many
// words as the data needs; then the reply's data from its byte 8 on.
//
// A request succeeds exactly when the answer is a reply whose length
// covers the record; its record is then the reply's data, zero past what
// was sent. The timing record of a detailed-timing reply must decode into
// the tools' mode line, and encoding the mode line again, as a validation
// request does, must give back the server's timing: the same active
// sizes, porches, sync widths, polarities and pixel clock.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/orvcfg_proto.h"
#include "core/orvcfg_records.h"
#include "platform/orvcfg/fake_orvcfg_server.h"
#include "tools/lib/XCommChannel.h"
#include "tools/lib/XCommInterface.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

// The reply's data as the server frames it: the data cut or padded with
// zeros to the 24 bytes of the reply's body and the words past it.
struct Answer {
  bool error = false;
  uint32_t extraWords = 0;
  std::vector<uint8_t> body;
};

// The server and the client's display, made once for the run.
struct Connection {
  FakeOrvCfgServer server;
  Display* dpy = nullptr;
  Connection() {
    Check(server.Start());
    server.RecordRequests(false);
    setenv("DISPLAY", server.DisplayName().c_str(), 1);
    dpy = ORVCFGInitialize();
    Check(dpy != nullptr);
  }
};

Connection& TheConnection() {
  static Connection* connection = new Connection;
  return *connection;
}

// A request succeeded with a record of `bytes` bytes: exactly when the
// answer covers it, and then holding the answer's data.
void CheckRecord(const Answer& answer, bool ok, const void* record, size_t bytes) {
  const bool covered = !answer.error && answer.extraWords >= OrvCfgExtraWords(uint32_t(bytes));
  Check(ok == covered);
  if (ok) Check(std::memcmp(record, answer.body.data(), bytes) == 0);
}

// The old check of the timing record: decoded into a mode line and encoded
// again, the server's timing comes back.
void CheckRoundTrip(const ORVCFGVideoMode& reply) {
  UiModeLine line;
  std::memset(&line, 0, sizeof line);
  std::strcpy(line.name, "kept");
  ConvertORVCFGValidateOutputToUiModeLine(&line, &reply);
  Check(std::strcmp(line.name, "kept") == 0);

  ORVCFGVideoMode again;
  ConvertUiModeLineToORVCFGVideoMode(&again, &line);
  const uint32_t kept[][2] = {
      {reply.ulHActive, again.ulHActive},         {reply.ulHFrontPorch, again.ulHFrontPorch},
      {reply.ulHSyncWidth, again.ulHSyncWidth},   {reply.ulHBackPorch, again.ulHBackPorch},
      {reply.ulVActive, again.ulVActive},         {reply.ulVFrontPorch, again.ulVFrontPorch},
      {reply.ulVSyncWidth, again.ulVSyncWidth},   {reply.ulVBackPorch, again.ulVBackPorch},
  };
  for (const auto& pair : kept) Check(pair[0] == pair[1]);
  const uint32_t polarities = ORVCFG_MODE_HSYNC_POSITIVE | ORVCFG_MODE_VSYNC_POSITIVE;
  Check((reply.ulFlags & polarities) == (again.ulFlags & polarities));
  // A clock the mode line holds as a signed kHz count comes back exactly.
  if (reply.ulPixClock <= uint32_t(INT32_MAX)) Check(again.ulPixClock == reply.ulPixClock);
}

constexpr uint8_t kRequests[] = {
    X_ORVCFGGetVersion,         X_ORVCFGGetNBBoard,          X_ORVCFGGetBoardByAddress, X_ORVCFGValidateMode,
    X_ORVCFGValidateModeEDID,   X_ORVCFGGetGenericBoardCap,  X_ORVCFGGetSpecificBoardCap,
    X_ORVCFGGetOutputState,     X_ORVCFGGetGenericBoardState, X_ORVCFGGetDetailledTiming,
};
constexpr size_t kMostData = 24 + 4 * OrvCfgExtraWords(sizeof(ORVCFGOutputState)) + 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Connection& c = TheConnection();
  const uint8_t pick = size > 0 ? data[0] : 0;
  const uint8_t how = size > 1 ? data[1] : 0;
  const size_t skip = (how & 2) != 0 ? 3 : 2;
  const uint8_t* reply = size > skip ? data + skip : nullptr;
  const size_t replyBytes = size > skip ? std::min(size - skip, kMostData) : 0;
  const uint8_t minor = kRequests[pick % sizeof kRequests];

  Answer answer;
  answer.error = (how & 1) != 0;
  answer.extraWords = (how & 2) != 0 ? (size > 2 ? data[2] : 0)
                                     : (replyBytes > 24 ? uint32_t((replyBytes - 24 + 3) / 4) : 0);
  answer.body.assign(24 + size_t{answer.extraWords} * 4, 0);
  if (replyBytes != 0) std::memcpy(answer.body.data(), reply, std::min(replyBytes, answer.body.size()));
  if (answer.error) {
    c.server.SetError(minor);
  } else {
    c.server.SetReply(minor, std::vector<uint8_t>(reply, reply + replyBytes), answer.extraWords);
  }

  Display* dpy = c.dpy;
  switch (minor) {
    case X_ORVCFGGetVersion: {
      int words[3] = {};
      CheckRecord(answer, ORVCFGGetVersion(dpy, &words[0], &words[1], &words[2]) != 0, words, sizeof words);
      break;
    }
    case X_ORVCFGGetNBBoard: {
      int count = 0;
      CheckRecord(answer, ORVCFGGetNBBoard(dpy, &count) != 0, &count, sizeof count);
      break;
    }
    case X_ORVCFGGetBoardByAddress: {
      int board = 0;
      CheckRecord(answer, ORVCFGGetBoardByAddress(dpy, 1, 2, 3, &board) != 0, &board, sizeof board);
      break;
    }
    case X_ORVCFGValidateMode:
    case X_ORVCFGValidateModeEDID: {
      // No reply answers 0: only a covered reply's status can be told.
      ORVCFGVideoMode mode{};
      mode.ulHActive = 1024;
      const uint32_t status = minor == X_ORVCFGValidateMode ? ORVCFGValidateMode(dpy, 0, 1, 2, &mode)
                                                            : ORVCFGValidateModeEDID(dpy, 1, 2, &mode);
      uint32_t expected = 0;
      if (!answer.error) std::memcpy(&expected, answer.body.data(), sizeof expected);
      Check(status == expected);
      break;
    }
    case X_ORVCFGGetGenericBoardCap: {
      ORVCFGGenericBoardCap cap{};
      CheckRecord(answer, ORVCFGGetGenericBoardCap(dpy, 0, &cap) != 0, &cap, sizeof cap);
      break;
    }
    case X_ORVCFGGetSpecificBoardCap: {
      int32_t value = 0;
      CheckRecord(answer, ORVCFGGetSpecificBoardCap(dpy, 0, 7, &value) != 0, &value, sizeof value);
      break;
    }
    case X_ORVCFGGetOutputState: {
      auto state = std::make_unique<ORVCFGOutputState>();
      CheckRecord(answer, ORVCFGGetOutputState(dpy, 0, 1, state.get()) != 0, state.get(), sizeof *state);
      break;
    }
    case X_ORVCFGGetGenericBoardState: {
      ORVCFGGenericBoardState state{};
      CheckRecord(answer, ORVCFGGetGenericBoardState(dpy, 0, &state) != 0, &state, sizeof state);
      break;
    }
    default: {
      ORVCFGVideoMode mode{};
      const bool ok = ORVCFGGetDetailledTiming(dpy, 1024, 768, 60, &mode) != 0;
      CheckRecord(answer, ok, &mode, sizeof mode);
      // The timing record's conversions, whatever the reply: the record as
      // the server sent it.
      ORVCFGVideoMode sent{};
      std::memcpy(&sent, answer.body.data(), std::min(answer.body.size(), sizeof sent));
      CheckRoundTrip(sent);
      break;
    }
  }
  return 0;
}
