// Linked into every libFuzzer target (orv_fuzz): the waits spend a
// hundredth of their bounds (see core/wait_bounds.h). The definition in the
// target's own objects takes the place of the drivers' one in the static
// libraries.
#include "core/wait_bounds.h"

const uint32_t kWaitBoundDivisor = 100;
