// A stand-in for the configuration extension's server module "orvcfg": a
// test loads it into the X server stand-in, which then offers its two
// registration entries (ORVCFGRegisterBoard, ORVCFGRegisterOutput) to the
// loader. It keeps copies of the records the driver registers and calls the
// board callbacks as the module does when a client asks.
#pragma once

#include <stdint.h>

#include <vector>

#include "core/orvcfg_records.h"

namespace xstub {

class XServer;

class FakeOrvcfgModule {
 public:
  // Loads the module: from now on the server's loader finds its entries.
  // One may be loaded at a time.
  explicit FakeOrvcfgModule(XServer& server);
  // Unloads it: the entries are gone from the loader.
  ~FakeOrvcfgModule();
  FakeOrvcfgModule(const FakeOrvcfgModule&) = delete;
  FakeOrvcfgModule& operator=(const FakeOrvcfgModule&) = delete;

  struct Board {
    OrvCfgBoardRecord record;  // the module's copy
    std::vector<ORVCFGOutputState> outputs;
  };
  // Boards by the number the registration answered.
  const std::vector<Board>& Boards() const { return boards_; }
  // Registrations of outputs for a board number nobody registered.
  int RefusedOutputs() const { return refused_outputs_; }

  // The board's callbacks, with the module's copy of its record.
  int32_t GetSpecificCap(int board, uint32_t capability);
  int32_t Reserved(int board);
  uint32_t ValidateMode(int board, const OrvCfgModeRequest& request);
  uint32_t ValidateModeEdid(int board, const OrvCfgModeRequest& request);
  int32_t GetDetailedTiming(int board, uint32_t width, uint32_t height, uint32_t refresh,
                            ORVCFGVideoMode* out);

 private:
  static int RegisterBoard(OrvCfgBoardRecord* record);
  static int RegisterOutput(int board, ORVCFGOutputState* state);

  XServer& server_;
  std::vector<Board> boards_;
  int refused_outputs_ = 0;
};

}  // namespace xstub
