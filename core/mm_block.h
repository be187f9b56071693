// The placed piece of memory of a surface, in the layout of the build:
// the X driver's record of a block the kernel module (or its own local-DMA
// heaps) handed out, or the kernel module's block of one of its heaps. Each
// also declares the build's own classes that place and map surfaces, the
// names a surface refers to: the X driver's, or the kernel's namesakes in
// namespace kcore.
#pragma once

#if defined(ORV_KERNEL_BUILD)
#include "core/mm_block_kernel.h"
#else
#include "core/mm_block_xdriver.h"
#endif
