// The square-root seam of the vector and matrix math, X-driver build: the
// processor's square root. The kernel build defines OrvMathSqrt itself.
#include "xdriver/matrix.h"

double OrvMathSqrt(double value) { return __builtin_sqrt(value); }
