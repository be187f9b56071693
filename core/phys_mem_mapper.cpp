#include "core/phys_mem_mapper.h"

#include "core/os.h"

PhysMemMapper* g_poPhysMemMapper = nullptr;

namespace {

uint64_t PageOf(uint64_t bus) { return bus & ~(kPhysPageSize - 1); }

uintptr_t Key(void* cpuAddress) { return reinterpret_cast<uintptr_t>(cpuAddress); }

// Whether the buffer touches the page: the pages from its bus address's page
// up to its bus end.
bool TouchesPage(const tagSurfaceBuffer* buffer, uint64_t page) {
  return PageOf(buffer->busAddress) <= page && page < buffer->busEnd;
}

}  // namespace

PhysMemMapper::~PhysMemMapper() {
  declared_.RemoveAll();
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
  if (!declared_.Insert(PageList::kTail)) {
    buffers_.erase(buffers_.find(Key(cpuAddress)));
    memFree(buffer);
    return false;
  }
  *declared_.GetCurrent() = buffer;
  return true;
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
  RemoveSurfaceBuffer(&declared_, buffer->cpuAddress);
  if (lastFound_ == buffer) lastFound_ = nullptr;
  buffers_.erase(it);
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
  const uint64_t page = PageOf(busAddress);
  bool pageCovered = false;
  for (tagSurfaceBuffer** entry = declared_.First(); entry != nullptr; entry = declared_.Next()) {
    if (!TouchesPage(*entry, page)) continue;
    pageCovered = true;
    if ((*entry)->Covers(busAddress)) {
      lastFound_ = *entry;
      return busAddress - lastFound_->busAddress + lastFound_->cpuAddress;
    }
  }
  return pageCovered ? 0 : busAddress;
}

size_t PhysMemMapper::PageCount() const {
  // The buffers' page spans [first, end), sorted by first page, then joined.
  const size_t n = buffers_.size();
  if (n == 0) return 0;
  auto* spans = static_cast<uint64_t*>(memAlloc(2 * n * sizeof(uint64_t)));
  if (spans == nullptr) return 0;
  size_t count = 0;
  for (auto it = buffers_.begin(); it != buffers_.end(); ++it) {
    const tagSurfaceBuffer* buffer = it->second;
    const uint64_t first = PageOf(buffer->busAddress);
    if (buffer->busEnd <= first) continue;
    const uint64_t bytes = buffer->busEnd - first;
    const uint64_t pages = bytes / kPhysPageSize + (bytes % kPhysPageSize != 0 ? 1 : 0);
    size_t at = count++;
    for (; at > 0 && spans[2 * (at - 1)] > first; --at) {
      spans[2 * at] = spans[2 * (at - 1)];
      spans[2 * at + 1] = spans[2 * (at - 1) + 1];
    }
    spans[2 * at] = first;
    spans[2 * at + 1] = first + pages * kPhysPageSize;
  }
  uint64_t total = 0;
  uint64_t reached = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t first = spans[2 * i] > reached || i == 0 ? spans[2 * i] : reached;
    if (spans[2 * i + 1] > first) total += (spans[2 * i + 1] - first) / kPhysPageSize;
    if (i == 0 || spans[2 * i + 1] > reached) reached = spans[2 * i + 1];
  }
  memFree(spans);
  return static_cast<size_t>(total);
}
