#include "platform/orvcfg/fake_orvcfg_module.h"

#include <stdio.h>
#include <stdlib.h>

#include "platform/xserver/server.h"

namespace xstub {
namespace {

FakeOrvcfgModule* g_module = nullptr;

}  // namespace

FakeOrvcfgModule::FakeOrvcfgModule(XServer& server) : server_(server) {
  if (g_module != nullptr) {
    fprintf(stderr, "orvcfg stand-in: a second module was loaded\n");
    abort();
  }
  g_module = this;
  server_.OfferSymbol(ORVCFG_REGISTER_BOARD_SYMBOL,
                      reinterpret_cast<void*>(&FakeOrvcfgModule::RegisterBoard));
  server_.OfferSymbol(ORVCFG_REGISTER_OUTPUT_SYMBOL,
                      reinterpret_cast<void*>(&FakeOrvcfgModule::RegisterOutput));
}

FakeOrvcfgModule::~FakeOrvcfgModule() {
  server_.OfferSymbol(ORVCFG_REGISTER_BOARD_SYMBOL, nullptr);
  server_.OfferSymbol(ORVCFG_REGISTER_OUTPUT_SYMBOL, nullptr);
  g_module = nullptr;
}

int FakeOrvcfgModule::RegisterBoard(OrvCfgBoardRecord* record) {
  if (g_module == nullptr || record == nullptr) return -1;
  g_module->boards_.push_back({*record, {}});
  return static_cast<int>(g_module->boards_.size()) - 1;
}

int FakeOrvcfgModule::RegisterOutput(int board, ORVCFGOutputState* state) {
  if (g_module == nullptr || state == nullptr) return -1;
  if (board < 0 || board >= static_cast<int>(g_module->boards_.size())) {
    ++g_module->refused_outputs_;
    return -1;
  }
  g_module->boards_[static_cast<size_t>(board)].outputs.push_back(*state);
  return 0;
}

int32_t FakeOrvcfgModule::GetSpecificCap(int board, uint32_t capability) {
  OrvCfgBoardRecord& r = boards_.at(static_cast<size_t>(board)).record;
  return r.pfnGetSpecificCap != nullptr ? r.pfnGetSpecificCap(&r, capability) : -1;
}

int32_t FakeOrvcfgModule::Reserved(int board) {
  OrvCfgBoardRecord& r = boards_.at(static_cast<size_t>(board)).record;
  return r.pfnReserved != nullptr ? r.pfnReserved(&r) : -1;
}

uint32_t FakeOrvcfgModule::ValidateMode(int board, const OrvCfgModeRequest& request) {
  OrvCfgBoardRecord& r = boards_.at(static_cast<size_t>(board)).record;
  return r.pfnValidateMode != nullptr ? r.pfnValidateMode(&r, &request) : 0xFFFFFFFFu;
}

uint32_t FakeOrvcfgModule::ValidateModeEdid(int board, const OrvCfgModeRequest& request) {
  OrvCfgBoardRecord& r = boards_.at(static_cast<size_t>(board)).record;
  return r.pfnValidateModeEdid != nullptr ? r.pfnValidateModeEdid(&r, &request) : 0xFFFFFFFFu;
}

int32_t FakeOrvcfgModule::GetDetailedTiming(int board, uint32_t width, uint32_t height,
                                            uint32_t refresh, ORVCFGVideoMode* out) {
  OrvCfgBoardRecord& r = boards_.at(static_cast<size_t>(board)).record;
  return r.pfnGetDetailedTiming != nullptr ? r.pfnGetDetailedTiming(&r, width, height, refresh, out)
                                           : 0;
}

}  // namespace xstub
