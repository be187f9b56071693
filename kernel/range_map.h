// The board's map of drawables: for each drawable, under a 64-bit key its
// 3D client chose, the bounding rectangle, the clip rectangles the client
// sent and the visible rectangles the kernel computes from every drawable.
// The 3D draw tokens replay each primitive once per visible rectangle.
//
// Keys come from clients: the map holds at most kRangeMapMaxEntries
// drawables per board, and every rectangle list at most kClipRectMax.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/otl_map.h"

class PDEV;

// {left, top, right, bottom}; right and bottom are exclusive.
struct ClipRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};
static_assert(sizeof(ClipRect) == 16);

inline constexpr uint32_t kClipRectMax = 32;
inline constexpr uint32_t kRangeMapMaxEntries = 256;

struct ClipRectList {
  uint32_t count;
  ClipRect rects[kClipRectMax];
};
static_assert(sizeof(ClipRectList) == 516);

struct RangeMapEntry {
  ClipRectList* clip;
  ClipRectList* visible;
  ClipRect rect;
  uint64_t users;  // 3D contexts bound to the drawable
};
static_assert(sizeof(RangeMapEntry) == 40);

class RangeMap : public OsHeapObject {
 public:
  RangeMap() = default;
  ~RangeMap();
  RangeMap(const RangeMap&) = delete;
  RangeMap& operator=(const RangeMap&) = delete;

  bool ok() const { return entries_.ok(); }
  size_t Count() const { return entries_.size(); }

  // The key's entry; null when absent.
  RangeMapEntry* Find(uint64_t key) const;
  // The key's entry, inserted empty (both lists allocated, count 0, a zero
  // rectangle) when absent; null when the map is full or memory is short.
  RangeMapEntry* FindOrInsert(uint64_t key);
  // Through FindOrInsert; null when it fails.
  ClipRect* GetRect(uint64_t key);
  ClipRectList* GetClipRects(uint64_t key);
  ClipRectList* GetVisibleRects(uint64_t key);
  // Frees both lists of the key's entry and erases it.
  void Remove(uint64_t key);

  // A 3D context binds to a drawable: the use count rises (the entry is
  // inserted when absent: false when it cannot be). Dropping the last use
  // of a key other than 0 removes the entry.
  bool AddUse(uint64_t key);
  void DropUse(uint64_t key);

  static bool RectsOverlap(const ClipRect& a, const ClipRect& b);
  // Cuts the rectangle out of every rectangle of the list it overlaps, each
  // replaced by the pieces above, left, below and right of the cut in that
  // order. False, with the list unchanged, when the result would hold more
  // than kClipRectMax rectangles.
  static bool SubtractRect(ClipRectList* list, const ClipRect& cut);
  // Recomputes the visible rectangles of every drawable for a screen of
  // the given size.
  void UpdateVisibleRects(uint64_t key, int32_t width, int32_t height);

  // Every entry in key order: callback(key, entry).
  template <class Callback>
  void ForEach(Callback callback) const {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) callback(it->first, it->second);
  }

 private:
  Otl::Map<uint64_t, RangeMapEntry*> entries_;
};

// Component entry 21: the first device object of a board makes the board's
// map; its clean-up removes every entry and frees the map.
bool InitRangeMap(PDEV* pdev);
void CleanupRangeMap(PDEV* pdev);
