// The square-root seam of the vector and matrix math, kernel build: the
// kernel core's square root, inside the processor's floating-point bracket.
#include "core/utils.h"
#include "xdriver/matrix.h"

double OrvMathSqrt(double value) { return LocSqrt(value); }
