// Resource tables, the per-unit lists of them, and component entry 17.
#include "kernel/3d/surfaces/resource_table.h"

#include <new>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/render/aux_surfaces.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/blit_engine.h"
#include "kernel/3d/surfaces/surface3d.h"

namespace {

// Index of a resource type's handle table: types 1, 2, 0 in that order.
constexpr uint32_t kTableOfType[kResourceTypes] = {2, 0, 1};

// Handle tables and lists come from the glue's allocator like every object
// of the module.
template <class T, class... Args>
T* MakeObject(Args... args) {
  void* memory = memAlloc(sizeof(T));
  return memory != nullptr ? new (memory) T(args...) : nullptr;
}

template <class T>
void DropObject(T* object) {
  if (object == nullptr) return;
  object->~T();
  memFree(object);
}

ResourceTableList* ListOf(PDEV* device) {
  if (device == nullptr || device->common == nullptr || device->unit >= kUnitSlots) return nullptr;
  return device->common->resourceTables[device->unit];
}

}  // namespace

ResourceTable::ResourceTable(PDEV* owner, uint8_t* ok)
    : common(owner->common), unit(owner->unit), device(owner) {
  sentinel_.next = sentinel_.previous = &sentinel_;
  sentinel_.context = nullptr;
  *ok = 0;
  for (HandleTable<SurfaceObject>*& table : tables_) {
    table = MakeObject<HandleTable<SurfaceObject>>(kHandleTableDefaultStep, kMaxResourceHandle);
    if (table == nullptr) return;
  }
  *ok = 1;
}

ResourceTable::~ResourceTable() { Clear(); }

HandleTable<SurfaceObject>* ResourceTable::TableOf(uint32_t type) const {
  return type < kResourceTypes ? tables_[kTableOfType[type]] : nullptr;
}

Surface3d* ResourceTable::Get(uint32_t type, uint32_t handle) const {
  HandleTable<SurfaceObject>* table = TableOf(type);
  return table != nullptr ? table->Get(handle) : nullptr;
}

bool ResourceTable::Enter(uint32_t type, Surface3d* surface) {
  HandleTable<SurfaceObject>* table = TableOf(type);
  if (table == nullptr || surface == nullptr) return false;
  const uint32_t handle = table->Insert(surface);
  if (handle == 0) return false;
  surface->resourceHandle = handle;
  return true;
}

Surface3d* ResourceTable::CreateBufferSurface(uint32_t type, BmBufferRing* ring) {
  if (TableOf(type) == nullptr || ring == nullptr) return nullptr;
  Surface3d* surface = Surface3d::CreateOverRing(this, ring, type);
  if (surface == nullptr) return nullptr;
  if (!Enter(type, surface)) {
    delete surface;
    return nullptr;
  }
  return surface;
}

Surface3d* ResourceTable::CreateSurface(uint32_t type, SurfaceCreateRequest* request) {
  HandleTable<SurfaceObject>* table = TableOf(type);
  if (table == nullptr || request == nullptr) return nullptr;

  if ((request->placement & kSetAny) == 0) {
    // A fixed handle out of range or taken is refused before anything is
    // made.
    const uint32_t fixed = request->fixedHandle;
    if (fixed > kMaxResourceHandle || (fixed != 0 && table->Get(fixed) != nullptr)) return nullptr;
    Surface3d* surface = Surface3d::InitForClient(this, request, type);
    if (surface == nullptr) return nullptr;
    const uint32_t handle = fixed != 0 ? table->InsertAt(surface, fixed) : table->Insert(surface);
    if (handle == 0 || table->Get(handle) != surface) {
      delete surface;
      return nullptr;
    }
    surface->resourceHandle = handle;
    // The companion comes once the surface has its handle, so it never
    // takes the handle the client fixed.
    surface->MakeCompanion(request);
    if ((request->flags2 & kRequestDisplayed) != 0 && BlitEngine3dDisplayedSurface(device) == nullptr)
      BlitEngine3dSetDisplayedSurface(device, surface);
    return surface;
  }

  TextureSurfaceSet* set = Surface3d::InitSetForClient(this, request, type);
  if (set == nullptr) return nullptr;
  Surface3d* first = nullptr;
  for (uint32_t face = 0; face < kCubeFaces; ++face) {
    if (set->total == 0) break;
    for (int32_t c = set->largest; c >= set->smallest && c >= 0; --c) {
      Surface3d* level = set->table[face][c];
      if (level == nullptr) continue;
      const uint32_t handle = table->Insert(level);
      if (handle == 0) {
        // The set goes whole: the levels under a handle through the table,
        // the others with it.
        delete set;
        return nullptr;
      }
      level->resourceHandle = handle;
    }
  }
  if (set->total != 0) first = set->table[0][set->largest];
  return first;
}

void ResourceTable::InvalidateBindings(uint32_t type, uint32_t handle) {
  for (ContextNode* node = sentinel_.next; node != &sentinel_; node = node->next)
    RenderState3dForgetBuffer(node->context, type, handle);
}

void ResourceTable::DestroyResource(uint32_t type, uint32_t handle) {
  HandleTable<SurfaceObject>* table = TableOf(type);
  if (table == nullptr || handle >= table->Capacity()) return;
  Surface3d* surface = table->Get(handle);
  if (surface == nullptr) return;
  InvalidateBindings(type, handle);
  for (ContextNode* node = sentinel_.next; node != &sentinel_; node = node->next)
    RenderContext3dForgetSurface(node->context, surface);
  if (BlitEngine3dDisplayedSurface(device) == surface) BlitEngine3dReleaseDisplayedSurface(device);
  table->Release(handle);
}

void ResourceTable::RebuildAuxSurfaces(PDEV* owner) {
  for (ContextNode* node = sentinel_.next; node != &sentinel_; node = node->next)
    AuxSurfaces3dRebuild(node->context, owner);
}

bool ResourceTable::AttachContext(RenderContext3d* context) {
  ContextNode* node = OsNew<ContextNode>();
  if (node == nullptr) return false;
  node->context = context;
  node->next = &sentinel_;
  node->previous = sentinel_.previous;
  sentinel_.previous->next = node;
  sentinel_.previous = node;
  ++contextCount_;
  return true;
}

void ResourceTable::DetachContext(RenderContext3d* context) {
  for (ContextNode* node = sentinel_.next; node != &sentinel_; node = node->next) {
    if (node->context != context) continue;
    node->previous->next = node->next;
    node->next->previous = node->previous;
    OsDelete(node);
    --contextCount_;
    return;
  }
}

void ResourceTable::Clear() {
  for (ContextNode* node = sentinel_.next; node != &sentinel_; node = node->next) {
    AuxSurfaces3dReleaseAll(node->context);
    RenderState3dMarkAllDirty(node->context);
    RenderContext3dForgetResourceTable(node->context);
  }
  for (ContextNode* node = sentinel_.next; node != &sentinel_;) {
    ContextNode* next = node->next;
    OsDelete(node);
    node = next;
  }
  sentinel_.next = sentinel_.previous = &sentinel_;
  contextCount_ = 0;
  // The display stops showing a surface of this table before it goes.
  if (Surface3d* displayed = BlitEngine3dDisplayedSurface(device)) {
    if (displayed->resourceTable == this) BlitEngine3dReleaseDisplayedSurface(device);
  }
  for (HandleTable<SurfaceObject>* table : tables_) {
    if (table != nullptr) table->FreeAll();
  }
  for (int i = kResourceTypes - 1; i >= 0; --i) {
    DropObject(tables_[i]);
    tables_[i] = nullptr;
  }
}

// ---- Lists of tables ---------------------------------------------------------------------------

ResourceTable* CreateResourceTable(PDEV* device, uint32_t key) {
  if (device == nullptr || device->common == nullptr) return nullptr;
  uint8_t ok = 0;
  ResourceTable* table = new ResourceTable(device, &ok);
  if (table == nullptr) return nullptr;
  ResourceTableList* list = ListOf(device);
  // A key present already is refused: replacing it would free a table
  // another open of the process still uses.
  if (!ok || list == nullptr || key == 0 || list->Find(key) != nullptr || list->Insert(table, key) == 0) {
    delete table;
    return nullptr;
  }
  return table;
}

int DestroyResourceTable(PDEV* device, uint32_t key) {
  ResourceTableList* list = ListOf(device);
  if (list == nullptr || list->Find(key) == nullptr) return 0;
  list->RemoveByKey(key);
  return 1;
}

ResourceTable* FindResourceTable(PDEV* device, uint32_t key) {
  ResourceTableList* list = ListOf(device);
  return list != nullptr ? list->Find(key) : nullptr;
}

bool InitResourceTableList(PDEV* pdev) {
  if (!pdev->IsFirstForThisUnit()) return true;
  if (pdev->unit >= kUnitSlots) return false;
  ResourceTableList* list = MakeObject<ResourceTableList>();
  if (list == nullptr) {
    CleanupResourceTableList(pdev);
    return false;
  }
  pdev->common->resourceTables[pdev->unit] = list;
  return true;
}

void CleanupResourceTableList(PDEV* pdev) {
  if (!pdev->IsLastForThisUnit() || pdev->unit >= kUnitSlots) return;
  ResourceTableList*& slot = pdev->common->resourceTables[pdev->unit];
  DropObject(slot);  // every table in it cleared and freed
  slot = nullptr;
}
