// The driver core's private per-board record, CommonData, shared by every
// device object of a board and private to each side: the X driver's layout
// (core/common_data_xdriver.h) or the kernel module's
// (core/common_data_kernel.h), selected by ORV_KERNEL_BUILD. Its first words
// (ring head, common locked block, shared blocks) are the same in both.
#pragma once

#if defined(ORV_KERNEL_BUILD)
#include "core/common_data_kernel.h"
#else
#include "core/common_data_xdriver.h"
#endif
