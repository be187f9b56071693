// The server's regions as a driver sees them: a region is its extents plus,
// when it holds more than one box, a block of boxes from the server's
// allocator. The REGION_* macros take the screen first, as the server's do.
//
// C linkage, as a loadable module sees them. Implemented by the stand-in
// (platform/xserver/region.cpp). Boxes keep the order in which they were
// made (an intersection lists its boxes in the first region's order); they
// are not coalesced into the server's y-x bands.
#pragma once

#include "platform/xserver/screen_layer.h"
#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// The boxes of a region with more than one box (or an empty region with
// room reserved): `size` boxes of room, `numRects` used, the boxes follow.
typedef struct _RegData {
  long size;
  long numRects;
} RegDataRec, *RegDataPtr;

typedef struct _Region {
  BoxRec extents;
  RegDataPtr data;  // null: the region is its extents (one box)
} RegionRec, *RegionPtr;

// The shared data of every empty region without room of its own.
extern RegDataRec miEmptyData;

// A region of one box (`rect`, none when the box is empty), or, without a
// box, an empty region with room for `size` boxes.
void miRegionInit(RegionPtr region, BoxPtr rect, int size);
// Frees the region's boxes; the region must be initialised again before use.
void miRegionUninit(RegionPtr region);
// A region made by the allocator (miRegionInit on it); freed by miRegionDestroy.
RegionPtr miRegionCreate(BoxPtr rect, int size);
void miRegionDestroy(RegionPtr region);
// dst := src; false when the boxes could not be allocated.
Bool miRegionCopy(RegionPtr dst, RegionPtr src);
// result := a intersected with b; result may be a or b.
Bool miIntersect(RegionPtr result, RegionPtr a, RegionPtr b);
// The same number of boxes, equal in order, and equal extents.
Bool miRegionEqual(RegionPtr a, RegionPtr b);
// Empties the region (its boxes are freed).
void miRegionEmpty(RegionPtr region);
// Whether a region holds any box.
Bool miRegionNotEmpty(RegionPtr region);
int miRegionNumRects(RegionPtr region);
// The region's boxes: its extents when it is one box.
BoxPtr miRegionRects(RegionPtr region);
// Makes the region the union of `count` boxes that must not overlap (the
// empty ones are dropped); false when the boxes could not be allocated.
Bool miRegionFromBoxes(RegionPtr region, const BoxRec* boxes, int count);

#define REGION_NIL(region) ((region)->data != NULL && (region)->data->numRects == 0)
#define REGION_NUM_RECTS(region) miRegionNumRects(region)
#define REGION_RECTS(region) miRegionRects(region)
// The screen argument is evaluated and otherwise unused: regions do not
// depend on the screen here.
#define REGION_EXTENTS(screen, region) ((void)(screen), &(region)->extents)
#define REGION_INIT(screen, region, rect, size) ((void)(screen), miRegionInit(region, rect, size))
#define REGION_NULL(screen, region) ((void)(screen), miRegionInit(region, NULL, 0))
#define REGION_UNINIT(screen, region) ((void)(screen), miRegionUninit(region))
#define REGION_CREATE(screen, rect, size) ((void)(screen), miRegionCreate(rect, size))
#define REGION_DESTROY(screen, region) ((void)(screen), miRegionDestroy(region))
#define REGION_COPY(screen, dst, src) ((void)(screen), miRegionCopy(dst, src))
#define REGION_INTERSECT(screen, result, a, b) ((void)(screen), miIntersect(result, a, b))
#define REGION_EQUAL(screen, a, b) ((void)(screen), miRegionEqual(a, b))
#define REGION_EMPTY(screen, region) ((void)(screen), miRegionEmpty(region))
#define REGION_NOTEMPTY(screen, region) ((void)(screen), miRegionNotEmpty(region))

#ifdef __cplusplus
}  // extern "C"
#endif
