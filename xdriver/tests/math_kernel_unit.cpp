// Uses every part of the display-processing math and the vector types, so
// that their header-only code is in the kernel-style object the symbol test
// reads.
#include "xdriver/cdh_matrix.h"
#include "xdriver/matrix.h"

CDHVector OrvMathKernelUnitColour(const CDHVector& v, OrvFloat s) {
  CDHMatrix m;
  m.Identity();
  const OrvFloatVar rows[3][3] = {
      {ORVFLOATVAR_POS_000_2570, ORVFLOATVAR_NEG_000_1480, ORVFLOATVAR_POS_000_4390},
      {ORVFLOATVAR_POS_000_5040, ORVFLOATVAR_NEG_000_2910, ORVFLOATVAR_NEG_000_3680},
      {ORVFLOATVAR_POS_000_0980, ORVFLOATVAR_POS_000_4390, ORVFLOATVAR_NEG_000_0710}};
  CDHMatrix n;
  n.Load(rows);
  const CDHVector w = Maximize(v, CDHVector(ORVFLOATVAR_POS_000_0625)) * s;
  return CrossProduct(w * (m * n), v) + CDHVector(DotProduct(v, w));
}

Vector OrvMathKernelUnitVector(const Vector& v) {
  return Normalize(CrossProduct(v, Vector(1, 2, 3))) * Magnitude(HomogenVector(v));
}
