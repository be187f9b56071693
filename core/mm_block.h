// The placed piece of memory of a surface, in the layout of the build:
// the X driver's record of a block the kernel module (or its own local-DMA
// heaps) handed out, or the kernel module's block of one of its heaps.
#pragma once

#if defined(ORV_KERNEL_BUILD)
#include "core/mm_block_kernel.h"
#else
#include "core/mm_block_xdriver.h"
#endif
