// The kernel module's own classes of names the X driver's build uses too
// (the X driver's are core/mm_aperture.h, core/mm_surface_manager.h and
// core/bm_prim_int.h). The kernel build's are declared in the kernel core's
// namespace, kcore, so that the two builds' classes are different types
// with different symbols: a program that links both builds gets both, each
// with its own layout. The kernel build names them unqualified through the
// using-declarations below.
//
// Kernel-build headers declare these classes by including this file, never
// with a `class MmHostAperture;` of their own: at global scope that would
// be a third class of the same name.
#pragma once

#include <stdint.h>

namespace kcore {

class BmPrimInt;         // kernel/dma_streams.h
class MmHostAperture;    // kernel/vidmem/surface_mapper.h
class MmMultiAperture;   // kernel/vidmem/surface_mapper.h
class MmSurfaceMapper;   // kernel/vidmem/surface_mapper.h
class MmSurfaceManager;  // kernel/vidmem/surface_manager.h
enum AperturePriority : uint32_t;  // kernel/vidmem/surface_mapper.h

}  // namespace kcore

using kcore::AperturePriority;
using kcore::BmPrimInt;
using kcore::MmHostAperture;
using kcore::MmMultiAperture;
using kcore::MmSurfaceManager;
using kcore::MmSurfaceMapper;
