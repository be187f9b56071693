// A 3D client's state in the kernel: one ClientContext per open file that
// created one (ioctl 31), holding the client's request block, its 3D
// contexts (Context3d, each with two render contexts, a command buffer and
// a status page), its buffers, vertex layouts and data buffers, two staging
// pages and the ring of recent present tags. Every handle, id and index a
// client names is looked up in its own tables; each table has a largest
// handle, so a client cannot make the kernel grow without bound.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/otl_map.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/handle_table.h"

class PDEV;
class Surface3d;
class ResourceTable;
class BmBufferRing;
class BmBuffer;
class SurfaceList3d;
class ClientContext;
struct RenderContext3d;
struct CommonData;
struct KernelClient;

// Largest handles of a client's tables, and its most data buffers.
inline constexpr uint32_t kClientMaxContexts3d = 256;
inline constexpr uint32_t kClientMaxBuffers = 1024;
inline constexpr uint32_t kClientMaxLayouts = 1024;
inline constexpr uint32_t kClientMaxDataBuffers = 1024;

// Buffer kinds of request 5.
inline constexpr uint32_t kClientBufferAgp = 1;
inline constexpr uint32_t kClientBufferPciLocked = 2;
inline constexpr uint32_t kClientBufferPages = 4;

// A buffer of request 5, mapped by the client at its bus address.
struct ClientBuffer3d {
  void* linear;
  uint64_t reserved;
  uint64_t size;
  uint64_t bus;
  uint32_t kind;
};
static_assert(sizeof(ClientBuffer3d) == 40);

// A data buffer of request 20: a buffer ring with a buffer surface over it.
struct DataBuffer3d {
  Surface3d* surface;
  BmBufferRing* ring;
  ResourceTable* table;
};
static_assert(sizeof(DataBuffer3d) == 24);

// One range of a vertex layout's program.
struct LayoutRange {
  uint32_t stateFlag;
  uint32_t primitiveType;
  uint32_t start;  // engine addresses
  uint32_t end;
};
static_assert(sizeof(LayoutRange) == 16);

// A vertex layout of request 17: a pre-built draw program that the batch
// draw token replays.
struct VertexLayout3d {
  BmBuffer* vertexBuffer;
  BmBuffer* programBuffer;
  uint32_t elementCount;
  uint32_t stride;
  uint32_t vertexCount;
  uint32_t programSize;
  uint32_t executeFlags;
  uint32_t rangeCount;
  LayoutRange* ranges;
  uint8_t reserved[16];

  ~VertexLayout3d();
};
static_assert(sizeof(VertexLayout3d) == 64);

inline constexpr uint32_t kContextDefaultPairs = 5;
inline constexpr uint32_t kStatusPageZeroed = 32;
// Where the engine writes a render context's progress counter in the
// status page: bytes 0-7 stay the client's.
inline constexpr uint32_t kStatusProgressAt = 8;

// The target synchronisation a 3D context keeps to run again once the
// client re-attaches after the device stopped: the surface (an index of the
// client's surface list, looked up again when it runs, so a surface the
// client destroyed meanwhile is skipped) and the target bits of its tag
// packet (0x100 colour, 0x200 depth; 0: nothing saved).
struct SavedTargets3d {
  uint64_t surfaceIndex = 0;
  uint32_t mask = 0;
};

// A 3D context (request 10): the client's rendering context.
struct Context3d {
  Context3d();
  ~Context3d();
  Context3d(const Context3d&) = delete;
  Context3d& operator=(const Context3d&) = delete;

  // False at the first step that fails; Release undoes what was done.
  bool Init(PDEV* device, ClientContext* owner, uint64_t key, const ClientBuffer3d& buffer,
            Surface3d* targets[2]);
  // Engine idle, render contexts destroyed, drawable use dropped, status
  // page freed. Safe on a partly initialised context.
  void Release();
  // Binds the context to a drawable (request 30): false when the map cannot
  // take the key (the binding is unchanged then).
  bool BindDrawable(uint64_t key);
  // The render-context index (0 or 1) of a handle of this context, or -1.
  int IndexOf(uint32_t renderContextHandle) const;
  // The interpreter's kernel copy of a token: at least `bytes`, grown as
  // needed and kept; null when memory is short.
  uint8_t* Scratch(size_t bytes);
  // After a re-attach: the saved target synchronisation runs again. A new
  // sync tag becomes the last write of the saved surface (memory kind 3 or
  // 4) and its tag packet goes into the device's secondary stream, handed
  // to the primary stream. Nothing when nothing is saved.
  void ReemitSavedTargets();
  // After a re-attach: both render contexts take the targets of the
  // indices the context was created with again (the surfaces re-created at
  // those indices; none where no surface is there now).
  void RestoreTargets(ResourceTable* resources);

  void* statusPage = nullptr;
  uint64_t statusPageBus = 0;
  ClientContext* client = nullptr;
  ClientBuffer3d commandBuffer = {};
  RenderContext3d* current = nullptr;
  RenderContext3d* renderContexts[2] = {};
  uint32_t renderContextHandles[2] = {};
  uint64_t drawableKey = 0;
  bool drawableBound = false;
  uint32_t progress[2] = {};  // last progress counter per render context
  uint8_t* scratch = nullptr;
  size_t scratchSize = 0;
  SavedTargets3d savedTargets;
  // The resource-table indices of the colour and depth targets named at
  // creation (0: none).
  uint32_t targetIndices[2] = {};
  uint32_t defaults[kContextDefaultPairs][2] = {{23, 3}, {56, 3}, {53, 1}, {54, 1}, {55, 1}};
  // The toggle packet goes before each draw's stream while set.
  uint8_t toggle = 1;
  // Two-pass draws (tokens 24 and 27): word1 is the second-pass flag, and
  // count8 and count22 the two render states the second pass sets; the
  // five defaults are the states of a pass that copies into the saved
  // targets, and keys[0] the key of the state block that restores them.
  uint32_t word1 = 1;
  uint32_t count8 = 8;
  uint32_t count22 = 22;
  uint64_t keys[2] = {~0ull, ~0ull};
  uint32_t targetWords[3] = {~0u, ~0u, ~0u};
  uint8_t flags = 0x40;
  // The client buffer (request 5) the last stream-source token named as
  // the vertex source of ranged draws, by handle (0: none, the
  // no-client-vertex-buffer state), and the stride it gave.
  uint64_t vertexBufferHandle = 0;
  uint32_t vertexStride = 0;
  // The stream bindings' per-draw words were cleared and nothing set them
  // since.
  bool bindingsReset = false;
  // The copy request the last target synchronisation (token 13) left: its
  // words 0, 1 and 3, and the record the two-pass draws hand on. While the
  // context has saved targets, draws go through the drawable's client
  // clip rectangles.
  bool copyPending = false;
  uint64_t copyWords[3] = {};
  uint64_t copyRecord[4] = {};
};

// The render state whose value chooses the passes of a ranged or client
// draw: kDrawPassSingle (the default of a new render context) one pass, or
// two with the copy request; another value draws a second pass with it.
inline constexpr uint32_t kDrawPassState = 200;
// Its value that asks for one pass, which a new render context starts with.
inline constexpr uint32_t kDrawPassSingle = 0x7FFFFFFF;

class ClientContext : public OsHeapObject {
 public:
  ClientContext();
  ~ClientContext();
  ClientContext(const ClientContext&) = delete;
  ClientContext& operator=(const ClientContext&) = delete;

  // Device, resource table, surface list, request block page and staging
  // pages: false at the first missing one (staging pages only make
  // request 31 refuse). Cleanup undoes a partial Init.
  bool Init(PDEV* device, uint32_t processKey);
  void MarkLost();
  // Request 3: false when the surface list cannot restore its surfaces.
  bool Reattach();
  void Cleanup();
  // Frees the display buffer slots of the client's flips (once no flip is
  // pending); a display still showing one goes back to the primary
  // surface's slot.
  void ReleaseFlipSlots();

  // The client buffer of a handle, or null.
  ClientBuffer3d* Buffer(uint64_t handle) const;
  Context3d* Context(uint64_t handle) const;
  DataBuffer3d* DataBuffer(uint32_t id) const;

  ResourceTable* resources = nullptr;
  SurfaceList3d* surfaces = nullptr;
  HandleTable<Context3d> contexts{kHandleTableDefaultStep, kClientMaxContexts3d};
  HandleTable<VertexLayout3d> layouts{kHandleTableDefaultStep, kClientMaxLayouts};
  HandleTable<ClientBuffer3d> buffers{kHandleTableDefaultStep, kClientMaxBuffers};
  Otl::Map<uint32_t, DataBuffer3d*> dataBuffers;
  // Drawables the client's request 29 put into the board's map: those no
  // 3D context uses when the client goes are taken out with it.
  Otl::Map<uint64_t, uint8_t> drawables;
  PDEV* device = nullptr;
  CommonData* common = nullptr;
  uint32_t processKey = 0;
  ClientRequest* requestBlock = nullptr;
  uint64_t requestBlockBus = 0;
  uint32_t nextDataBufferId = 1;
  void* staging[2] = {};
  uint64_t stagingBus[2] = {};
  uint32_t presentTags[6] = {1, 1, 1, 1, 1, 1};
  // Display buffer slots of the client's last two flips (-1: none), and
  // the displays they were taken on.
  int32_t flipSlots[2] = {-1, -1};
  uint32_t flipMask = 0;
  int32_t presentIndex = 0;
  // The toggle bit the draws' toggle packets carry, flipped by each.
  uint8_t toggleBit = 0;
  bool lost = false;
  // The engine had reached every tag given out when the device stopped
  // under the client (the stop waits for its closing tag): nothing of the
  // client's is left for it to read, so a lost client's clean-up waits on
  // no engine, which may not run for this desktop again.
  bool idleAtLoss = false;
  // An engine-idle wait ran out: the engine may still read or write the
  // client's engine-visible memory (status pages, command and staging
  // buffers, layouts), which is then never freed.
  bool engineStuck = false;
  // The kernel's snapshot of the request block the dispatcher works on.
  ClientRequest request = {};

  // Whether freeing the client's engine-visible memory needs an engine
  // wait first: not while it is lost behind an engine that was done.
  bool EngineMayHoldWork() const { return !(lost && idleAtLoss); }
};

// Frees a client buffer's memory by its kind.
void FreeClientBuffer(CommonData* common, uint32_t unit, ClientBuffer3d* buffer);

// The device object a client's 3D context is bound to; its clean-up and
// release (the client's pointer cleared); marking it lost when the device
// object stops. The surfaces a loss saves are saved first, while the
// device object still runs: once it stops, its windows onto local memory
// are gone and a save would read nothing of them.
PDEV* ClientContext3dDevice(ClientContext* context);
void DestroyClientContext3d(KernelClient* client);
void SaveClientContext3dSurfaces(KernelClient* client);
void MarkClientContext3dLost(KernelClient* client);

// ---- Engine waits and tags --------------------------------------------------------------
// Pending submissions drained, engine status idle, the DMA progress at the
// value the kernel expects; bounded, false when a wait ran out.
bool WaitEngineIdle3d(CommonData* common);
// The same for a client: a wait that ran out marks it engineStuck.
bool WaitEngineIdle3d(ClientContext* client);
// The tag the engine completed, kind bits cleared: register 1052 when the
// DMA mode word is non-zero, else the block's completed-tag word.
uint32_t CompletedTag3d(CommonData* common);
// Bounded wait until the engine passed the tag; false when it ran out.
bool WaitTagPassed3d(CommonData* common, uint32_t tag);
