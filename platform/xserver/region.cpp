// Regions: the extents and, for more than one box, a block of boxes from
// the server's allocator, so a region a driver keeps and never frees shows
// up as a live allocation.
#include "platform/xserver/region.h"

#include <string.h>

#include <algorithm>
#include <vector>

namespace {

bool EmptyBox(const BoxRec& b) { return b.x2 <= b.x1 || b.y2 <= b.y1; }

BoxPtr BoxesOf(RegDataPtr data) { return reinterpret_cast<BoxPtr>(data + 1); }

bool OwnsData(const RegionRec* r) { return r->data != nullptr && r->data != &miEmptyData; }

void MakeEmpty(RegionPtr r) {
  if (OwnsData(r)) xfree(r->data);
  r->extents.x2 = r->extents.x1;
  r->extents.y2 = r->extents.y1;
  r->data = &miEmptyData;
}

// Replaces the region's boxes with `boxes` (none empty, none overlapping).
bool Assign(RegionPtr r, const std::vector<BoxRec>& boxes) {
  if (boxes.empty()) {
    MakeEmpty(r);
    return true;
  }
  BoxRec extents = boxes.front();
  for (const BoxRec& b : boxes) {
    extents.x1 = std::min(extents.x1, b.x1);
    extents.y1 = std::min(extents.y1, b.y1);
    extents.x2 = std::max(extents.x2, b.x2);
    extents.y2 = std::max(extents.y2, b.y2);
  }
  RegDataPtr data = nullptr;
  if (boxes.size() > 1) {
    data = static_cast<RegDataPtr>(xalloc(sizeof(RegDataRec) + boxes.size() * sizeof(BoxRec)));
    if (data == nullptr) {
      MakeEmpty(r);
      return false;
    }
    data->size = static_cast<long>(boxes.size());
    data->numRects = static_cast<long>(boxes.size());
    memcpy(BoxesOf(data), boxes.data(), boxes.size() * sizeof(BoxRec));
  }
  if (OwnsData(r)) xfree(r->data);
  r->extents = extents;
  r->data = data;
  return true;
}

std::vector<BoxRec> BoxList(RegionPtr r) {
  const int n = miRegionNumRects(r);
  const BoxRec* boxes = miRegionRects(r);
  return std::vector<BoxRec>(boxes, boxes + n);
}

}  // namespace

extern "C" {

RegDataRec miEmptyData = {0, 0};

void miRegionInit(RegionPtr region, BoxPtr rect, int size) {
  if (rect != nullptr && !EmptyBox(*rect)) {
    region->extents = *rect;
    region->data = nullptr;
    return;
  }
  region->extents = BoxRec{0, 0, 0, 0};
  region->data = &miEmptyData;
  if (rect == nullptr && size > 1) {
    auto* data = static_cast<RegDataPtr>(xalloc(sizeof(RegDataRec) + size * sizeof(BoxRec)));
    if (data != nullptr) {
      data->size = size;
      data->numRects = 0;
      region->data = data;
    }
  }
}

void miRegionUninit(RegionPtr region) {
  if (OwnsData(region)) xfree(region->data);
  region->data = nullptr;
}

RegionPtr miRegionCreate(BoxPtr rect, int size) {
  auto* region = static_cast<RegionPtr>(xalloc(sizeof(RegionRec)));
  if (region != nullptr) miRegionInit(region, rect, size);
  return region;
}

void miRegionDestroy(RegionPtr region) {
  if (region == nullptr) return;
  miRegionUninit(region);
  xfree(region);
}

Bool miRegionCopy(RegionPtr dst, RegionPtr src) {
  if (dst == src) return TRUE;
  return Assign(dst, BoxList(src)) ? TRUE : FALSE;
}

Bool miIntersect(RegionPtr result, RegionPtr a, RegionPtr b) {
  std::vector<BoxRec> out;
  const std::vector<BoxRec> first = BoxList(a), second = BoxList(b);
  for (const BoxRec& p : first) {
    for (const BoxRec& q : second) {
      BoxRec c{std::max(p.x1, q.x1), std::max(p.y1, q.y1), std::min(p.x2, q.x2),
               std::min(p.y2, q.y2)};
      if (!EmptyBox(c)) out.push_back(c);
    }
  }
  return Assign(result, out) ? TRUE : FALSE;
}

Bool miRegionEqual(RegionPtr a, RegionPtr b) {
  const int n = miRegionNumRects(a);
  if (n != miRegionNumRects(b)) return FALSE;
  if (n == 0) return TRUE;
  if (memcmp(&a->extents, &b->extents, sizeof(BoxRec)) != 0) return FALSE;
  return memcmp(miRegionRects(a), miRegionRects(b), n * sizeof(BoxRec)) == 0 ? TRUE : FALSE;
}

void miRegionEmpty(RegionPtr region) { MakeEmpty(region); }

Bool miRegionNotEmpty(RegionPtr region) { return miRegionNumRects(region) != 0 ? TRUE : FALSE; }

int miRegionNumRects(RegionPtr region) {
  return region->data != nullptr ? static_cast<int>(region->data->numRects) : 1;
}

BoxPtr miRegionRects(RegionPtr region) {
  return region->data != nullptr ? BoxesOf(region->data) : &region->extents;
}

Bool miRegionFromBoxes(RegionPtr region, const BoxRec* boxes, int count) {
  std::vector<BoxRec> kept;
  for (int i = 0; i < count; ++i)
    if (!EmptyBox(boxes[i])) kept.push_back(boxes[i]);
  return Assign(region, kept) ? TRUE : FALSE;
}

}  // extern "C"
