// A 3D client process's resources: its surfaces, texture sets and buffer
// views under (resource type, handle), and the render contexts that use
// them, which hear of every resource that changes or goes. Each display
// unit keeps its clients' tables in a keyed list (component entry 17),
// under the process id of each.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "kernel/handle_table.h"

class PDEV;
class Surface3d;
class BmBufferRing;
struct CommonData;
struct RenderContext3d;
struct SurfaceCreateRequest;

// What a resource table's handles name: surfaces, and the surfaces that
// stand for texture sets and buffer views.
using SurfaceObject = Surface3d;

inline constexpr uint32_t kResourceTypes = 3;
// The largest handle a client may ask for.
inline constexpr uint32_t kMaxResourceHandle = 65535;

class ResourceTable : public OsHeapObject {
 public:
  // *ok is 0 when the handle tables or the context list cannot be made.
  ResourceTable(PDEV* device, uint8_t* ok);
  ~ResourceTable();
  ResourceTable(const ResourceTable&) = delete;
  ResourceTable& operator=(const ResourceTable&) = delete;

  // A surface or texture set (the set's largest face-0 level) of the type
  // under a handle: the request's fixed handle, or the first free one.
  // Null for a type above 2, a request out of bounds, a taken fixed handle
  // or when nothing can be made; nothing is left then.
  Surface3d* CreateSurface(uint32_t type, SurfaceCreateRequest* request);
  // Enters a surface made elsewhere at the first free handle; false (the
  // surface stays the caller's) when the type is above 2 or the table
  // cannot grow.
  bool Enter(uint32_t type, Surface3d* surface);
  // A view over a buffer ring at the first free handle; null for a type
  // above 2 or when it cannot be made or entered (nothing is left then).
  Surface3d* CreateBufferSurface(uint32_t type, BmBufferRing* ring);
  void InvalidateBindings(uint32_t type, uint32_t handle);
  void DestroyResource(uint32_t type, uint32_t handle);
  void RebuildAuxSurfaces(PDEV* device);
  // Detaches every context, then frees every resource and the tables.
  void Clear();

  // The object under the handle, or null.
  Surface3d* Get(uint32_t type, uint32_t handle) const;
  HandleTable<SurfaceObject>* TableOf(uint32_t type) const;

  // Render contexts attach themselves; false when no node can be had.
  bool AttachContext(RenderContext3d* context);
  void DetachContext(RenderContext3d* context);
  uint32_t ContextCount() const { return contextCount_; }

  CommonData* common;
  uint32_t unit;
  PDEV* device;

 private:
  struct ContextNode {
    ContextNode* next;
    ContextNode* previous;
    RenderContext3d* context;
  };
  static_assert(sizeof(ContextNode) == 24);

  // Resource types 1, 2 and 0, in that order.
  HandleTable<SurfaceObject>* tables_[kResourceTypes] = {};
  ContextNode sentinel_;
  uint32_t contextCount_ = 0;
};

// A process's resources, as a unit's list keeps them under the process id.
using ProcessResources = ResourceTable;

class ResourceTableList : public KeyedHandleTable<ProcessResources> {
 public:
  ResourceTableList() : KeyedHandleTable<ProcessResources>(kHandleTableDefaultStep) {}
};

// The client's table under the key (its process id) in the device's unit
// list: null without a list, for a key present already or key 0, or when
// the table cannot be made.
ResourceTable* CreateResourceTable(PDEV* device, uint32_t key);
// 1 when the key's table was found and freed, else 0.
int DestroyResourceTable(PDEV* device, uint32_t key);
// The key's table, or null.
ResourceTable* FindResourceTable(PDEV* device, uint32_t key);

// Component entry 17: the unit's list of resource tables, made by the
// unit's first device object and freed by its last.
bool InitResourceTableList(PDEV* pdev);
void CleanupResourceTableList(PDEV* pdev);
