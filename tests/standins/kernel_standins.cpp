// Stand-ins of the kernel core's pending functions (kernel/pending.h), in
// the kernel build. Each logs its call under its own name. A component init
// succeeds, and a request handler answers -22, unless a test chose another
// result (a non-zero code fails an init; a handler answers the chosen code
// as a signed number); the 3D engine's parts do nothing. The last
// entry's clean-up, the first of every destruction, also logs the unit of
// the device object ("CleanupSharedSurfaces3d unit <n>"), so tests see which object
// went when.
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

bool StandInInit(const char* name) {
  uint32_t chosen = 0;
  return !orvstandin::Called(name, &chosen) || chosen == 0;
}

void StandInCall(const char* name) {
  uint32_t ignored = 0;
  orvstandin::Called(name, &ignored);
}

void StandInCleanup(const char* name, PDEV* pdev) {
  static const char* const kUnits[] = {"CleanupSharedSurfaces3d unit 0", "CleanupSharedSurfaces3d unit 1",
                                       "CleanupSharedSurfaces3d unit 2", "CleanupSharedSurfaces3d unit 3"};
  StandInCall(name);
  if (strcmp(name, "CleanupSharedSurfaces3d") == 0 && pdev->unit < 4) StandInCall(kUnits[pdev->unit]);
}

int StandInAnswer(const char* name, int answer) {
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

bool StandInStep(const char* name, void* subject) {
  uint32_t chosen = 0;
  return !orvstandin::Called(name, &chosen, subject) || chosen == 0;
}

void StandInVoid(const char* name, void* subject) {
  uint32_t ignored = 0;
  orvstandin::Called(name, &ignored, subject);
}



}  // namespace

void Surface3dWriteSyncTag(Surface3d* surface) {
  StandInVoid("Surface3dWriteSyncTag", surface);
  orvstandin::LogArg(reinterpret_cast<uintptr_t>(surface));
}
bool Surface3dFillRect(Surface3d* surface, int32_t left, int32_t top, int32_t right, int32_t bottom,
                       uint32_t value, uint32_t mask, uint32_t mode) {
  const bool result = StandInStep("Surface3dFillRect", surface);
  for (uint64_t a : {uint64_t{reinterpret_cast<uintptr_t>(surface)}, uint64_t(uint32_t(left)),
                     uint64_t(uint32_t(top)), uint64_t(uint32_t(right)), uint64_t(uint32_t(bottom)), uint64_t{value},
                     uint64_t{mask}, uint64_t{mode}})
    orvstandin::LogArg(a);
  return result;
}
void FlushRenderTarget(Surface3d* surface, PDEV*, uint32_t flag) {
  StandInVoid("FlushRenderTarget", surface);
  orvstandin::LogArg(reinterpret_cast<uintptr_t>(surface));
  orvstandin::LogArg(flag);
}
// The image's bytes are read whole, so a short image shows as a sanitizer
// report; their sum is logged beside the pointer and size.
bool Surface3dWriteImage(Surface3d* surface, const void* image, uint32_t bytes) {
  const bool result = StandInStep("Surface3dWriteImage", surface);
  uint64_t sum = 0;
  const auto* p = static_cast<const uint8_t*>(image);
  for (uint32_t i = 0; i < bytes; ++i) sum += p[i];
  orvstandin::LogArg(reinterpret_cast<uintptr_t>(surface));
  orvstandin::LogArg(bytes);
  orvstandin::LogArg(sum);
  return result;
}

// ---- What the 3D client contexts ask of later parts -------------------------------------
// Objects of later parts are stand-in addresses that are never dereferenced
// here.
namespace {
uintptr_t FakeObject(uint32_t handle) { return 0x7E000000u + handle * 0x100u; }
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

// The surface list: a non-null stand-in address unless a test makes
// "SurfaceList3dCreate" fail; requests answer the chosen result (0 by
// default); surfaces of an index are the out-value <index> of
// "SurfaceList3dGet" (none: no surface).
SurfaceList3d* SurfaceList3dCreate(PDEV*, ResourceTable*) {
  if (!StandInInit("SurfaceList3dCreate")) return nullptr;
  return reinterpret_cast<SurfaceList3d*>(FakeObject(0xFFFF));
}
void SurfaceList3dDestroy(SurfaceList3d*) { StandInCall("SurfaceList3dDestroy"); }
void SurfaceList3dRelease(SurfaceList3d*) { StandInCall("SurfaceList3dRelease"); }
bool SurfaceList3dRestore(SurfaceList3d*) { return StandInInit("SurfaceList3dRestore"); }
int32_t SurfaceList3dRequest(SurfaceList3d*, ClientRequest* request, uint8_t* record) {
  const int32_t answer = StandInAnswer("SurfaceList3dRequest", 0);
  orvstandin::LogArg(request->Code());
  if (record != nullptr) {
    uint32_t first;
    memcpy(&first, record, sizeof(first));
    orvstandin::LogArg(first);
    // The list answers in the record: its first word incremented.
    ++first;
    memcpy(record, &first, sizeof(first));
  }
  return answer;
}
Surface3d* SurfaceList3dGet(SurfaceList3d*, uint64_t index) {
  StandInCall("SurfaceList3dGet");
  orvstandin::LogArg(index);
  return index < orvstandin::kMaxChosenOuts
             ? reinterpret_cast<Surface3d*>(orvstandin::OutValue("SurfaceList3dGet", index))
             : nullptr;
}
// Out-values by the surface's address modulo 64: kind (1 by default) and flags.
uint32_t Surface3dMemoryKind(Surface3d* surface) {
  StandInCall("Surface3dMemoryKind");
  const uint64_t kind = orvstandin::OutValue("Surface3dMemoryKind", reinterpret_cast<uintptr_t>(surface) % 64);
  return kind != 0 ? static_cast<uint32_t>(kind) : 1;
}
uint32_t Surface3dFlagByte(Surface3d* surface) {
  StandInCall("Surface3dFlagByte");
  return static_cast<uint32_t>(orvstandin::OutValue("Surface3dFlagByte", reinterpret_cast<uintptr_t>(surface) % 64));
}
// Extent and bits per pixel: out-values 0 to 2 of "Surface3dExtent" (640 x
// 480 x 32 by default).
void Surface3dExtent(Surface3d*, uint32_t* width, uint32_t* height) {
  StandInCall("Surface3dExtent");
  const uint64_t w = orvstandin::OutValue("Surface3dExtent", 0);
  const uint64_t h = orvstandin::OutValue("Surface3dExtent", 1);
  *width = w != 0 ? static_cast<uint32_t>(w) : 640;
  *height = h != 0 ? static_cast<uint32_t>(h) : 480;
}
uint32_t Surface3dBitsPerPixel(Surface3d*) {
  const uint64_t bits = orvstandin::OutValue("Surface3dExtent", 2);
  return bits != 0 ? static_cast<uint32_t>(bits) : 32;
}
void Surface3dCompletePendingWork(Surface3d*) { StandInCall("Surface3dCompletePendingWork"); }
// Out-value 0 of "Surface3dFlipAddress" (its second address: out-value 1).
uint32_t Surface3dFlipAddress(Surface3d*, bool second) {
  StandInCall("Surface3dFlipAddress");
  return static_cast<uint32_t>(orvstandin::OutValue("Surface3dFlipAddress", second ? 1 : 0));
}
bool Surface3dIsSyncSuspended(Surface3d*) { return !StandInInit("Surface3dIsSyncSuspended"); }
void Surface3dFlushIfRenderTarget(Surface3d*) { StandInCall("Surface3dFlushIfRenderTarget"); }
void ClientObjectCopyRect(ClientContext*, Surface3d*, Surface3d*, const uint32_t* sourceBox,
                          const uint32_t* destinationBox, const ClientRequest*) {
  StandInCall("ClientObjectCopyRect");
  for (int i : {0, 1, 3, 4}) orvstandin::LogArg(sourceBox[i]);
  for (int i : {0, 1, 3, 4}) orvstandin::LogArg(destinationBox[i]);
}
void ClientObjectFill(ClientContext*, Surface3d*, const uint32_t* box, const ClientRequest*) {
  StandInCall("ClientObjectFill");
  for (int i : {0, 1, 3, 4}) orvstandin::LogArg(box[i]);
}

uint32_t Surface3dSecondWord(Surface3d* surface) {
  return Surface3dResourceHandle(surface) * 16;
}
