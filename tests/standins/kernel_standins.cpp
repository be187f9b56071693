// Stand-ins of the kernel core's pending functions (kernel/pending.h), in
// the kernel build. Each logs its call under its own name. A component init
// succeeds, and a request handler answers -22, unless a test chose another
// result (a non-zero code fails an init; a handler answers the chosen code
// as a signed number); the 3D engine's parts do nothing.
#include <string.h>

#include <initializer_list>

#include "core/pdev.h"
#include "kernel/3d/render/context_state.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/pending.h"
#include "platform/kglue/kglue.h"
#include "tests/standins/standin_log.h"

namespace {

[[maybe_unused]] bool StandInInit(const char* name) {
  uint32_t chosen = 0;
  return !orvstandin::Called(name, &chosen) || chosen == 0;
}

void StandInCall(const char* name) {
  uint32_t ignored = 0;
  orvstandin::Called(name, &ignored);
}

[[maybe_unused]] void StandInCleanup(const char* name, PDEV*) { StandInCall(name); }

[[maybe_unused]] int StandInAnswer(const char* name, int answer) {
  uint32_t chosen = 0;
  return orvstandin::Called(name, &chosen) ? static_cast<int>(chosen) : answer;
}

}  // namespace

#define ORV_DEFINE_KERNEL_ROW(init, cleanup, entry)   \
  bool init(PDEV*) { return StandInInit(#init); }   \
  void cleanup(PDEV* pdev) { StandInCleanup(#cleanup, pdev); }
ORV_PENDING_KERNEL_ROWS(ORV_DEFINE_KERNEL_ROW)
#undef ORV_DEFINE_KERNEL_ROW

// ---- Render contexts and render state ---------------------------------------------------------
// A call that answers a bool succeeds unless a test chose a non-zero
// result; the stand-in's action runs with the render context (or the
// record it was handed). Objects of later parts that a render context owns
// are made here through the glue, so the glue's accounting sees them.

namespace {

[[maybe_unused]] void StandInVoid(const char* name, void* subject) {
  uint32_t ignored = 0;
  orvstandin::Called(name, &ignored, subject);
}

}  // namespace

// ---- What the 3D client contexts ask of later parts -------------------------------------
// Objects of later parts are stand-in addresses that are never dereferenced
// here.
namespace {
[[maybe_unused]] uintptr_t FakeObject(uint32_t handle) { return 0x7E000000u + handle * 0x100u; }
}  // namespace

// Token handlers log the entry count, the trailing bytes and the first six
// words of the payload they were handed (fewer when it is shorter).
#define ORV_DEFINE_TOKEN(opcode, name)                                                   \
  void name(TokenContext3d*, const uint8_t* payload, uint32_t count, uint32_t trailing) { \
    StandInCall(#name);                                                                  \
    orvstandin::LogArg(count);                                                           \
    orvstandin::LogArg(trailing);                                                        \
    const uint64_t bytes = uint64_t{count} * TokenEntrySize(opcode) + trailing;          \
    for (uint64_t i = 0; i + 4 <= bytes && i < 24; i += 4) {                             \
      uint32_t word;                                                                     \
      memcpy(&word, payload + i, sizeof(word));                                          \
      orvstandin::LogArg(word);                                                          \
    }                                                                                    \
  }
ORV_PENDING_TOKENS(ORV_DEFINE_TOKEN)
#undef ORV_DEFINE_TOKEN

