// A 3D client's surfaces and textures by handle: the surface list of each
// client context turns a client's description into a 3D surface of the
// process's resource table, keeps one ClientObject per handle, locks,
// fills, copies and destroys them, and saves and re-creates the surfaces
// that must survive a lost device. The primary surface, a flippable back
// buffer and two further shared kinds are clones of device-wide masters,
// kept once per device object (SharedSurfaces3d, component entry 20).
//
// Descriptions, lock records, levels, faces and boxes are client data:
// every size is bounded and computed in 64 bits, every level and face is
// checked against the surface, every copy is bounded by its buffer.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/otl_map.h"
#include "kernel/handle_table.h"

class PDEV;
class Surface3d;
class ResourceTable;
class ClientContext;
class FlipController;
struct CommonData;
struct ClientRequest;
struct FormatDescriptor;
struct SurfaceCreateRequest;
struct TokenContext3d;

// ---- Client records ----------------------------------------------------------------------------

// Flags of a description.
inline constexpr uint32_t kDescVideoOnly = 0x01;
inline constexpr uint32_t kDescSharedOne = 0x02;
inline constexpr uint32_t kDescMipmapped = 0x04;
inline constexpr uint32_t kDescBordered = 0x08;
inline constexpr uint32_t kDescExtra = 0x10;
inline constexpr uint32_t kDescPrimary = 0x20;
inline constexpr uint32_t kDescSharedTwo = 0x40;
inline constexpr uint32_t kDescBackBuffer = 0x80;
inline constexpr uint32_t kDescSharedKinds = kDescSharedOne | kDescPrimary | kDescSharedTwo | kDescBackBuffer;

// Kinds of a description; any other value is a plain surface.
inline constexpr uint32_t kDescKindPlain = 1;
inline constexpr uint32_t kDescKindTexture = 3;
inline constexpr uint32_t kDescKindVolume = 4;
inline constexpr uint32_t kDescKindCube = 5;

struct ClientSurfaceDescription {
  uint32_t flags;
  uint32_t kind;
  uint32_t format;  // the client's format number
  uint32_t width;
  uint32_t height;  // 0 keeps 1
  uint32_t depth;   // 0 keeps 1
  uint32_t levels;  // levels - 1 on input; the level count on output
};
static_assert(sizeof(ClientSurfaceDescription) == 28);

struct ClientSurfaceLock {
  uint32_t level;
  uint32_t face;
  uint32_t pitch;       // out
  uint32_t slicePitch;  // out; 0 for a surface that is not a texture
  uint64_t address;     // out: the bus address of the level
  uint8_t unused[8];
};
static_assert(sizeof(ClientSurfaceLock) == 32);
static_assert(offsetof(ClientSurfaceLock, address) == 16);

// ---- Info ---------------------------------------------------------------------------------------

// flagsA
inline constexpr uint8_t kInfoTexture = 0x01;
inline constexpr uint8_t kInfoMipmapped = 0x02;
inline constexpr uint8_t kInfoSharedOne = 0x04;
inline constexpr uint8_t kInfoSharedTwo = 0x08;
inline constexpr uint8_t kInfoVideoOnly = 0x10;
inline constexpr uint8_t kInfoVolume = 0x20;
inline constexpr uint8_t kInfoCube = 0x40;
inline constexpr uint8_t kInfoBordered = 0x80;
// flagsB
inline constexpr uint8_t kInfoExtra = 0x01;
inline constexpr uint8_t kInfoValueSet = 0x02;
inline constexpr uint8_t kInfoPrimary = 0x04;
inline constexpr uint8_t kInfoBackBuffer = 0x08;

// Usage indices of creation requests.
inline constexpr uint32_t kUsageIndexPlain = 11;
inline constexpr uint32_t kUsageIndexTexture = 9;
inline constexpr uint32_t kUsageIndexTiled = 10;
inline constexpr uint32_t kUsageIndexSharedOne = 5;
inline constexpr uint32_t kUsageIndexVideoOnly = 6;
inline constexpr uint32_t kUsageIndexDisplay = 7;
inline constexpr uint8_t kDisplayFlags2 = 0x68;

// A texture has at most one level per size class.
inline constexpr uint32_t kClientMaxLevels = 12;
// The largest client handle (the resource table's largest).
inline constexpr uint32_t kClientMaxSurfaceHandle = 65535;
// Stands in the level-id table's slots: an id is reserved, no object is
// ever stored there (the table is detach-only).
inline constexpr uintptr_t kLevelIdPlaceholder = 0xDEADBEEF;

// Kinds of device-wide masters, in the order of their counts.
enum SharedKind3d : uint32_t {
  kSharedOne = 0,
  kSharedBackBuffer = 1,
  kSharedTwo = 2,
  kSharedPrimary = 3,
  kSharedKinds = 4,
  kSharedNone = 4,
};

struct ClientSurfaceInfo {
  const FormatDescriptor* format = nullptr;
  uint32_t firstLevelId = 0;
  uint64_t handle = 0;
  uint8_t flagsA = 0;
  uint8_t flagsB = 0;
  uint32_t width = 0;
  uint32_t height = 1;
  uint32_t depth = 1;
  uint32_t levels = 1;
  uint32_t surfaceValue = 0;
  PDEV* owner = nullptr;
  CommonData* common = nullptr;

  // False for a description this device cannot make: no format, sizes of
  // 0 or out of bounds, more than 12 levels, more than one shared kind, a
  // texture of a shared kind.
  static bool FromDescription(PDEV* device, const ClientSurfaceDescription& description, ClientSurfaceInfo* out);
  // The info of a surface made elsewhere.
  static ClientSurfaceInfo FromSurface(Surface3d* surface);
  void ToCreateRequest(SurfaceCreateRequest* request) const;
  void ToDescription(ClientSurfaceDescription* description) const;

  // The device-wide kind of a clone (kSharedNone for none): the first of
  // shared-one, shared-two, primary, back buffer.
  SharedKind3d SharedKind() const;
  uint32_t Faces() const { return (flagsA & kInfoCube) != 0 ? 6 : 1; }
};

// ---- Level copies ------------------------------------------------------------------------------

inline constexpr uint32_t kLevelCopyBox = 0x1;
inline constexpr uint32_t kLevelCopyBordered = 0x4;
inline constexpr uint32_t kLevelCopyFromSystem = 0;
inline constexpr uint32_t kLevelCopyToSystem = 1;

struct LevelCopyRequest {
  uint32_t flags = 0;
  uint64_t cpu = 0;       // the locked system-memory side
  uint32_t rowPitch = 0;  // of that side
  int32_t source[4] = {};       // left, top, right, bottom
  int32_t destination[4] = {};
  uint32_t direction = 0;
  int32_t sourceBox[6] = {};    // left, top, right, bottom, front, back
  int32_t destinationBox[6] = {};
  uint32_t sliceSize = 0;
};

// ---- Objects ------------------------------------------------------------------------------------

class ClientObject : public OsHeapObject {
 public:
  ClientObject() = default;
  ~ClientObject() = default;
  ClientObject(const ClientObject&) = delete;
  ClientObject& operator=(const ClientObject&) = delete;

  // The surface of a level and face: the object's surface for level 0,
  // face 0 of a surface that is not a texture, the set's surface for a
  // texture; null for a level or face the surface does not have.
  Surface3d* LevelSurface(uint32_t level, uint32_t face) const;
  uint32_t LevelCount() const;

  // Request 14: the level's processor address (0 when it cannot be
  // locked), its pitches and bus address into the record. The level is
  // remembered for Unlock.
  uint64_t LockLevel(ClientSurfaceLock* lock);
  void Unlock();
  // Unlocks, then destroys what the object owns and drops its use of a
  // device-wide master.
  void Release(struct SharedSurfaces3d* shared);
  // Token 55.
  void SetSurfaceValue(uint32_t value);
  // Request 16's fill and copy over boxes {left, top, front, right, bottom,
  // back}.
  bool Fill(uint32_t value, const uint32_t* box, uint32_t mask);
  bool CopyRect(ClientObject* source, const uint32_t* sourceBox, const uint32_t* destinationBox, uint32_t level,
                uint32_t face, uint32_t mask);
  // One level and face of this object from the source's (each side's level
  // surface at that level and face).
  bool CopyLevel(ClientObject* source, LevelCopyRequest* request, uint32_t level, uint32_t face, uint32_t mask);
  // Every level and face, the boxes halved per level.
  bool CopyLevels(ClientObject* source, const uint32_t* sourceBox, const uint32_t* destinationBox);
  // The bytes a save copies: the rows of every level and face.
  uint64_t DataSize() const;

  ClientSurfaceInfo info;
  Surface3d* surface = nullptr;
  Surface3d* locked = nullptr;
  uint8_t ownsSurface = 1;
};

// A surface saved across a lost device: its info and its contents (none
// for clones of device-wide masters).
struct SavedClientSurface {
  ClientSurfaceInfo info;
  uint8_t* content = nullptr;
  uint64_t contentSize = 0;
};

// ---- Device-wide masters -----------------------------------------------------------------------

struct SharedSurfaces3d {
  uint32_t counts[kSharedKinds] = {};
  Surface3d* masters[kSharedKinds] = {};
  int32_t flipSlot = -1;
  int32_t primaryState = -1;
  FlipController* flips = nullptr;
  ResourceTable* table = nullptr;
  // The back-buffer master's slot was really taken (a device with no free
  // slot stores 0, the primary surface's own slot, which is never given
  // back for it).
  uint8_t flipSlotTaken = 0;
};

bool InitSharedSurfaces3d(PDEV* pdev);
void CleanupSharedSurfaces3d(PDEV* pdev);

// ---- The list ----------------------------------------------------------------------------------

class SurfaceList3d : public OsHeapObject {
 public:
  SurfaceList3d();
  ~SurfaceList3d();
  SurfaceList3d(const SurfaceList3d&) = delete;
  SurfaceList3d& operator=(const SurfaceList3d&) = delete;

  bool Init(ClientContext* owner, PDEV* device, ResourceTable* resources);

  // Request 12: the handle, 0 on failure. The description is rewritten for
  // the primary kind.
  uint64_t CreateSurface(ClientSurfaceDescription* description);
  // A surface made elsewhere, not owned: the handle, 0 on failure.
  uint64_t AddSurface(Surface3d* surface);
  uint64_t RegisterSurface(Surface3d* surface, bool owns = true);
  void DestroySurface(uint64_t handle);
  // Device lost: saved-list surfaces saved and released; request 3:
  // re-created at their handles and level ids (false when one cannot be).
  void SaveAndRelease();
  bool Restore();

  // Requests 12 to 15 with the kernel's copy of their record (null for 13
  // and 15): the request's result.
  int32_t Request(ClientRequest* request, uint8_t* record);
  // Request 14: the handle's level locked as the lock record (in and out)
  // asks; request 15: its lock released.
  int32_t LockSurface(uint64_t handle, uint8_t* record);
  int32_t UnlockSurface(uint64_t handle);

  ClientObject* Object(uint64_t handle) const;
  Surface3d* Surface(uint64_t handle) const;

  SharedSurfaces3d* Shared() const;

 private:
  // The tests' reader of the lists and the level ids.
  friend struct SurfaceList3dProbe;

  struct Node {
    Node* next;
    Node* previous;
    uint64_t handle;
    SavedClientSurface* record;
  };
  struct List {
    Node sentinel{&sentinel, &sentinel, 0, nullptr};
    uint32_t count = 0;
    bool Append(uint64_t handle, SavedClientSurface* record);
    void Remove(uint64_t handle);
    void Clear();
  };

  Surface3d* CreateClientSurface3d(SurfaceCreateRequest* request, const ClientSurfaceInfo& info);
  bool ReserveLevelIds(Surface3d* surface, const ClientSurfaceInfo& info);
  // A re-created object's level surfaces out of the resource table, and
  // back under the level ids of its chain.
  void DetachLevels(ClientObject* object);
  void AssignLevelIds(ClientObject* object);
  void FreeLevelIds(uint32_t first);
  ClientObject* RecreateSurface(const SavedClientSurface& record);
  SavedClientSurface* Save(ClientObject* object);
  void DropObject(uint64_t handle);
  void FreeRecords();

  List plainList_;
  List savedList_;
  List savedRecords_;
  HandleTable<ClientObject> levelIds_{kHandleTableDefaultStep, kClientMaxSurfaceHandle};
  Otl::Map<uint32_t, uint32_t> levelChain_;
  HandleTable<ClientObject> objects_{kHandleTableDefaultStep, kClientMaxSurfaceHandle};
  ClientContext* client_ = nullptr;
  PDEV* device_ = nullptr;
  ResourceTable* resources_ = nullptr;
  // A saved surface's entry could not be made: no restore can be whole.
  uint8_t recordMissing_ = 0;
};

// The client context's list: made over its resource table (null when it
// cannot be), destroyed; its surfaces released when the device stops and
// restored by request 3.
SurfaceList3d* SurfaceList3dCreate(PDEV* device, ClientContext* client, ResourceTable* resources);
void SurfaceList3dDestroy(SurfaceList3d* list);

// Request 16's copy and fill over one pair of boxes (level, face, mask and
// value from the request).
void ClientObjectCopyRect(ClientObject* destination, ClientObject* source, const uint32_t* sourceBox,
                          const uint32_t* destinationBox, const ClientRequest* request);
void ClientObjectFill(ClientObject* destination, const uint32_t* box, const ClientRequest* request);
