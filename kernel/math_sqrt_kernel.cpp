// The kernel build's square root for the vector and matrix math it shares
// with the X driver: the driver core's own.
#include "core/utils.h"
#include "xdriver/matrix.h"

double OrvMathSqrt(double value) { return LocSqrt(value); }
