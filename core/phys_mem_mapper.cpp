#include "core/phys_mem_mapper.h"

#include <new>

#include "core/os.h"

PhysMemMapper* g_poPhysMemMapper = nullptr;

namespace {

uint64_t PageOf(uint64_t bus) { return bus & ~(kPhysPageSize - 1); }

uintptr_t Key(void* cpuAddress) { return reinterpret_cast<uintptr_t>(cpuAddress); }

PhysMemMapper::PageList* NewPageList() {
  void* memory = memAlloc(sizeof(PhysMemMapper::PageList));
  return memory != nullptr ? new (memory) PhysMemMapper::PageList() : nullptr;
}

void DeletePageList(PhysMemMapper::PageList* list) {
  list->~DLinkedList();
  memFree(list);
}

}  // namespace

PhysMemMapper::~PhysMemMapper() {
  for (auto it = pages_.begin(); it != pages_.end(); ++it) DeletePageList(it->second);
  pages_.clear();
  for (auto it = buffers_.begin(); it != buffers_.end(); ++it) memFree(it->second);
  buffers_.clear();
  lastFound_ = nullptr;
}

bool PhysMemMapper::DeclareSurfaceBuffer(void* cpuAddress, uint64_t busAddress,
                                         uint32_t pageCount) {
  if (buffers_.find(Key(cpuAddress)) != buffers_.end()) UnDeclareSurfaceBuffer(cpuAddress);

  auto* buffer = static_cast<tagSurfaceBuffer*>(memAlloc(sizeof(tagSurfaceBuffer)));
  if (buffer == nullptr) return false;
  buffer->busAddress = busAddress;
  buffer->cpuAddress = Key(cpuAddress);
  buffer->pageCount = pageCount;
  buffer->busEnd = busAddress + uint64_t{pageCount} * kPhysPageSize;
  if (!buffers_.insert({Key(cpuAddress), buffer}).second) {
    memFree(buffer);
    return false;
  }

  for (uint64_t page = PageOf(busAddress); page < buffer->busEnd; page += kPhysPageSize) {
    auto it = pages_.find(page);
    PageList* list = it != pages_.end() ? it->second : nullptr;
    bool added = false;
    if (list == nullptr) {
      list = NewPageList();
      if (list != nullptr && !pages_.insert({page, list}).second) {
        DeletePageList(list);
        list = nullptr;
      }
    }
    if (list != nullptr && list->Insert(PageList::kTail)) {
      *list->GetCurrent() = buffer;
      added = true;
    } else if (list != nullptr && list->Size() == 0) {
      DeletePageList(list);
      pages_.erase(pages_.find(page));
    }
    if (!added) {
      // Undo the pages entered so far and the record.
      RemoveFromPages(buffer, page);
      buffers_.erase(buffers_.find(Key(cpuAddress)));
      memFree(buffer);
      return false;
    }
  }
  return true;
}

void PhysMemMapper::RemoveFromPages(tagSurfaceBuffer* buffer, uint64_t endPage) {
  for (uint64_t page = PageOf(buffer->busAddress); page < endPage; page += kPhysPageSize) {
    auto it = pages_.find(page);
    if (it == pages_.end()) continue;
    PageList* list = it->second;
    RemoveSurfaceBuffer(list, buffer->cpuAddress);
    if (list->Size() == 0) {
      DeletePageList(list);
      pages_.erase(it);
    }
  }
}

void PhysMemMapper::RemoveSurfaceBuffer(PageList* list, uint64_t cpuAddress) {
  for (tagSurfaceBuffer** entry = list->First(); entry != nullptr; entry = list->Next()) {
    if ((*entry)->cpuAddress == cpuAddress) {
      list->RemoveCurrent();
      return;
    }
  }
}

void PhysMemMapper::UnDeclareSurfaceBuffer(void* cpuAddress) {
  auto it = buffers_.find(Key(cpuAddress));
  if (it == buffers_.end()) return;
  tagSurfaceBuffer* buffer = it->second;
  RemoveFromPages(buffer, buffer->busEnd);
  if (lastFound_ == buffer) lastFound_ = nullptr;
  buffers_.erase(buffers_.find(Key(cpuAddress)));
  memFree(buffer);
}

bool PhysMemMapper::GetBufferPhysAttributes(void* cpuAddress, uint64_t* busAddress,
                                            uint32_t* pageCount) const {
  auto it = buffers_.find(Key(cpuAddress));
  if (it == buffers_.end()) return false;
  *busAddress = it->second->busAddress;
  *pageCount = it->second->pageCount;
  return true;
}

uint64_t PhysMemMapper::GetBufferLinAddress(uint64_t busAddress) {
  if (lastFound_ != nullptr && lastFound_->Covers(busAddress)) {
    return busAddress - lastFound_->busAddress + lastFound_->cpuAddress;
  }
  auto it = pages_.find(PageOf(busAddress));
  if (it == pages_.end()) return busAddress;
  PageList* list = it->second;
  for (tagSurfaceBuffer** entry = list->First(); entry != nullptr; entry = list->Next()) {
    if ((*entry)->Covers(busAddress)) {
      lastFound_ = *entry;
      return busAddress - lastFound_->busAddress + lastFound_->cpuAddress;
    }
  }
  return 0;
}
