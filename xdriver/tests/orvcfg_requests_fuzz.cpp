// Fuzz target of the configuration extension's requests as the X driver
// answers them: the board callbacks the driver registers with the
// extension's module (xdriver/orv_register.cpp) with any record a client's
// request can carry. A client names the output, the output type and every
// word of the timing (mode validation, against the board and against the
// monitor's EDID), or the size and refresh of the timing it wants, on a
// board the hardware library opened over the simulated board, with
// monitors on outputs 0 to 2 (output 3 has none). Nothing may read or
// write outside its buffers (the sanitizers watch); a callback on a board
// that is not open answers failure without touching it; a detailed timing
// is always answered.
//
// Input: byte 0 the callback (modulo 4: the specific capability, mode
// validation, validation against the EDID, the detailed timing); bit 2 a
// board record whose handle is not an open board; then little-endian
// words, missing ones read as 0: the capability number; or the output,
// the output type and the 18 words of the timing; or width, height and
// refresh.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/chip_ids.h"
#include "core/orvcfg_records.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/hal/edid.h"
#include "hwsharing/hal/monitor.h"
#include "hwsharing/tests/edid_fixture.h"
#include "hwsharing/tests/hw_board.h"
#include "kernel/tests/fuzz_reader.h"
#include "xdriver/orv_register.h"

namespace {

using orvfuzz::Reader;

void Check(bool holds) {
  if (!holds) std::abort();
}

// One board for the run, opened as the library opens it, its monitor
// records made from EDIDs as the library gathers them.
struct Bench {
  hwtest::HwBoard hw{hwtest::Config(kDeviceKestrion1)};
  BOARDHANDLE* h = nullptr;

  Bench() {
    Check(hw.Open() == 0);
    h = hw.h();
    hwtest::Edid1 plain;
    plain.SetEstablished(1, 0x0E).SetDetailed(0, hwtest::Timing1080p());
    hwtest::Edid1 ranged;
    ranged.SetRange(1, 50, 75, 30, 80, 16).SetDetailed(0, {10800, 1280, 408, 1024, 42, 48, 112, 1, 3, 0x1E});
    hwtest::Edid1 wide;
    wide.AddCea(3, {{0x43, 0x90, 0x04, 0x10}}, {hwtest::Timing1080p()}).SetDetailed(0, hwtest::Timing1080p());
    const hwtest::Edid1* monitors[3] = {&plain, &ranged, &wide};
    for (uint32_t output = 0; output < 3; ++output) Attach(output, monitors[output]->data());
    OrvNoteBoardOpen(h);
  }

  void Attach(uint32_t output, const uint8_t* edid) {
    MONITORINFO& mi = h->aMonitorInfo[output];
    std::memset(&mi, 0, sizeof(mi));
    std::memcpy(mi.aucEdid, edid, kEdidBufferSize);
    mi.flMonitor = kMonitorPresent | kMonitorEdidValid;
    mi.ulEdidVersion = HALPGetEDIDVersion(edid);
    HALPGetMonitorProperties(h, output);
    HALPGetEdidModes(h, output);
    HALPGetMonitorMinimalResolution(h, output);
    HALPGetMonitorMaximalResolution(h, output);
    HALPGetMonitorLimits(h, output);
  }
};

Bench& TheBench() {
  static Bench* bench = new Bench;  // lives until the process ends
  return *bench;
}

// A handle that names no open board.
alignas(8) uint8_t g_closedBoard[64];

constexpr uint32_t kClosedBoardStatus = 0x80000000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bench& bench = TheBench();
  Reader in(data, size);
  const uint8_t pick = in.Byte();
  const bool closed = (pick & 4) != 0;
  OrvCfgBoardRecord record;
  std::memset(&record, 0, sizeof(record));
  record.pBoardHandle = closed ? static_cast<void*>(g_closedBoard) : bench.h;
  bench.h->status = 0;
  switch (pick % 4) {
    case 0: {
      const int32_t answer = OrvBoardCbGetSpecificCap(&record, in.Word());
      Check(answer == -1 || answer == 0 || answer == 1);
      if (closed) Check(answer == -1);
      break;
    }
    case 1:
    case 2: {
      auto request = std::make_unique<OrvCfgModeRequest>();
      request->ulOutput = in.Word();
      request->ulOutputType = in.Word();
      in.Bytes(&request->oMode, sizeof request->oMode);
      const uint32_t answer = pick % 4 == 1 ? OrvBoardCbValidateMode(&record, request.get())
                                            : OrvBoardCbValidateModeEdid(&record, request.get());
      if (closed) Check(answer == kClosedBoardStatus);
      break;
    }
    default: {
      const uint32_t width = in.Word();
      const uint32_t height = in.Word();
      const uint32_t refresh = in.Word();
      auto out = std::make_unique<ORVCFGVideoMode>();
      std::memset(out.get(), 0xA5, sizeof *out);
      const int32_t answer = OrvBoardCbGetDetailedTiming(&record, width, height, refresh, out.get());
      Check(answer == (closed ? 0 : 1));
      if (!closed) Check(out->ulHReserved == 0 && out->ulVReserved == 0);
      break;
    }
  }
  return 0;
}
