// The board's map of drawables and their clip and visible rectangles.
#include "kernel/range_map.h"

#include "core/common_data.h"
#include "core/os.h"
#include "core/pdev.h"

namespace {

int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }

void FreeEntry(RangeMapEntry* entry) {
  if (entry == nullptr) return;
  memFree(entry->clip);
  memFree(entry->visible);
  memFree(entry);
}

}  // namespace

RangeMap::~RangeMap() {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) FreeEntry(it->second);
  entries_.clear();
}

RangeMapEntry* RangeMap::Find(uint64_t key) const {
  auto it = entries_.find(key);
  return it != entries_.end() ? it->second : nullptr;
}

RangeMapEntry* RangeMap::FindOrInsert(uint64_t key) {
  if (RangeMapEntry* entry = Find(key)) return entry;
  if (!entries_.ok() || entries_.size() >= kRangeMapMaxEntries) return nullptr;
  auto* entry = static_cast<RangeMapEntry*>(memAlloc(sizeof(RangeMapEntry)));
  if (entry == nullptr) return nullptr;
  entry->clip = static_cast<ClipRectList*>(memAlloc(sizeof(ClipRectList)));
  entry->visible = static_cast<ClipRectList*>(memAlloc(sizeof(ClipRectList)));
  if (entry->clip == nullptr || entry->visible == nullptr ||
      !entries_.insert(Otl::Pair<const uint64_t, RangeMapEntry*>{key, entry}).second) {
    FreeEntry(entry);
    return nullptr;
  }
  return entry;
}

ClipRect* RangeMap::GetRect(uint64_t key) {
  RangeMapEntry* entry = FindOrInsert(key);
  return entry != nullptr ? &entry->rect : nullptr;
}

ClipRectList* RangeMap::GetClipRects(uint64_t key) {
  RangeMapEntry* entry = FindOrInsert(key);
  return entry != nullptr ? entry->clip : nullptr;
}

ClipRectList* RangeMap::GetVisibleRects(uint64_t key) {
  RangeMapEntry* entry = FindOrInsert(key);
  return entry != nullptr ? entry->visible : nullptr;
}

void RangeMap::Remove(uint64_t key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  RangeMapEntry* entry = it->second;
  entries_.erase(it);
  FreeEntry(entry);
}

bool RangeMap::AddUse(uint64_t key) {
  RangeMapEntry* entry = FindOrInsert(key);
  if (entry == nullptr) return false;
  ++entry->users;
  return true;
}

void RangeMap::DropUse(uint64_t key) {
  RangeMapEntry* entry = Find(key);
  if (entry == nullptr) return;
  if (entry->users != 0) --entry->users;
  if (entry->users == 0 && key != 0) Remove(key);
}

bool RangeMap::RectsOverlap(const ClipRect& a, const ClipRect& b) {
  return Max(a.left, b.left) < Min(a.right, b.right) && Max(a.top, b.top) < Min(a.bottom, b.bottom);
}

bool RangeMap::SubtractRect(ClipRectList* list, const ClipRect& cut) {
  if (list == nullptr) return false;
  ClipRectList result;
  result.count = 0;
  const uint32_t count = list->count < kClipRectMax ? list->count : kClipRectMax;
  auto add = [&result](int32_t left, int32_t top, int32_t right, int32_t bottom) {
    if (left >= right || top >= bottom) return true;
    if (result.count == kClipRectMax) return false;
    result.rects[result.count++] = ClipRect{left, top, right, bottom};
    return true;
  };
  for (uint32_t i = 0; i < count; ++i) {
    const ClipRect r = list->rects[i];
    if (!RectsOverlap(r, cut)) {
      if (!add(r.left, r.top, r.right, r.bottom)) return false;
      continue;
    }
    int32_t top = r.top;
    int32_t left = r.left;
    if (cut.top > r.top) {
      if (!add(r.left, r.top, r.right, cut.top)) return false;
      top = cut.top;
    }
    if (cut.left > r.left) {
      if (!add(r.left, top, cut.left, r.bottom)) return false;
      left = cut.left;
    }
    if (cut.bottom < r.bottom) {
      if (!add(left, cut.bottom, r.right, r.bottom)) return false;
    }
    if (cut.right < r.right) {
      if (!add(cut.right, top, r.right, Min(cut.bottom, r.bottom))) return false;
    }
  }
  *list = result;
  return true;
}

void RangeMap::UpdateVisibleRects(uint64_t, int32_t width, int32_t height) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    RangeMapEntry* entry = it->second;
    if (entry->clip->count == 0) {
      entry->visible->count = 0;
      continue;
    }
    const ClipRect bound = entry->rect;
    entry->visible->count = 1;
    entry->visible->rects[0] = ClipRect{Max(bound.left, 0), Max(bound.top, 0),
                                        Min(bound.right, width), Min(bound.bottom, height)};
    const uint32_t clipCount = entry->clip->count < kClipRectMax ? entry->clip->count : kClipRectMax;
    for (auto other = entries_.begin(); other != entries_.end(); ++other) {
      if (other == it) continue;
      RangeMapEntry* cover = other->second;
      if (cover->clip->count == 0) continue;
      if (!RectsOverlap(cover->rect, bound)) continue;
      bool excluded = false;
      for (uint32_t c = 0; c < clipCount && !excluded; ++c)
        excluded = RectsOverlap(cover->rect, entry->clip->rects[c]);
      if (excluded) continue;
      SubtractRect(entry->visible, cover->rect);
      if (entry->visible->count > clipCount) *entry->visible = *entry->clip;
    }
  }
}

bool InitRangeMap(PDEV* pdev) {
  if (!pdev->IsFirstForBoard()) return true;
  CommonData* common = pdev->common;
  RangeMap* map = new RangeMap();
  if (map == nullptr) return false;
  if (!map->ok()) {
    delete map;
    return false;
  }
  common->rangeMap = map;
  return true;
}

void CleanupRangeMap(PDEV* pdev) {
  if (!pdev->IsFirstForBoard()) return;
  CommonData* common = pdev->common;
  delete common->rangeMap;
  common->rangeMap = nullptr;
}
