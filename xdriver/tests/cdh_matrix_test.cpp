// The display-processing math: CDHMatrix is row-major without
// transposition, vectors multiply from the left, constants keep the value
// their name spells.
#include <gtest/gtest.h>

#include "xdriver/cdh_matrix.h"

namespace {

CDHMatrix Counting(int first) {
  OrvFloat values[9];
  for (int i = 0; i < 9; ++i) values[i] = OrvFloat(first + i);
  CDHMatrix m;
  m.Load(values);
  return m;
}

TEST(CdhMatrixTest, RowMajorProductsAndRowVectors) {
  const CDHMatrix a = Counting(1), b = Counting(-4);
  EXPECT_EQ(a.e[1].f, 2) << "element (0, 1) is the second value loaded";
  const CDHMatrix r = a * b;
  for (int row = 0; row < 3; ++row) {
    for (int c = 0; c < 3; ++c) {
      float expected = 0;
      for (int k = 0; k < 3; ++k) expected += (1 + 3 * row + k) * (-4 + 3 * k + c);
      EXPECT_EQ(r.e[3 * row + c].f, expected) << row << "," << c;
    }
  }
  const CDHVector v(OrvFloat(2), OrvFloat(-1), OrvFloat(3));
  const CDHVector out = v * a;
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(out[c].f, 2 * (1 + c) - (4 + c) + 3 * (7 + c)) << c;
  }
  EXPECT_EQ((a * OrvFloat(2)).e[8].f, 18);
  EXPECT_TRUE(OrvFloat(2) * a == a * OrvFloat(2));
}

TEST(CdhMatrixTest, EmptyIdentityAndConstantLoads) {
  CDHMatrix m = Counting(1);
  m.Empty();
  for (const OrvFloat& v : m.e) EXPECT_EQ(v.f, 0);
  m.Identity();
  for (int i = 0; i < 9; ++i) EXPECT_EQ(m.e[i].f, (i % 4 == 0) ? 1 : 0) << i;
  EXPECT_TRUE(m * Counting(3) == Counting(3));
  EXPECT_FALSE(m == Counting(3));

  const OrvFloatVar rows[3][3] = {
      {ORVFLOATVAR_POS_000_2570, ORVFLOATVAR_POS_000_5040, ORVFLOATVAR_POS_000_0980},
      {ORVFLOATVAR_NEG_000_1480, ORVFLOATVAR_NEG_000_2910, ORVFLOATVAR_POS_000_4390},
      {ORVFLOATVAR_POS_000_4390, ORVFLOATVAR_NEG_000_3680, ORVFLOATVAR_NEG_000_0710}};
  m.Load(rows);
  EXPECT_EQ(m.e[1].f, 0.504f);
  EXPECT_EQ(m.e[3].f, -0.148f);
  EXPECT_EQ(m.e[8].f, -0.071f);
  EXPECT_EQ(OrvFloat(ORVFLOATVAR_POS_213_3333).f, 213.3333f);
  EXPECT_EQ(OrvFloat(ORVFLOATVAR_POS_003_1416).f, 3.1416f);
  EXPECT_EQ(OrvFloat(ORVFLOATVAR_POS_007_0000).f, 7.0f);
}

TEST(CdhVectorTest, OperationsAsForVector) {
  EXPECT_TRUE(CDHVector() == CDHVector(OrvFloat(0)));
  EXPECT_TRUE(CDHVector(ORVFLOATVAR_POS_002_0000) == CDHVector(OrvFloat(2), OrvFloat(2), OrvFloat(2)));
  const CDHVector a(OrvFloat(1), OrvFloat(5), OrvFloat(2)), b(OrvFloat(3), OrvFloat(4), OrvFloat(2));
  EXPECT_TRUE(Minimize(a, b) == CDHVector(OrvFloat(1), OrvFloat(4), OrvFloat(2)));
  EXPECT_TRUE(Maximize(a, b) == CDHVector(OrvFloat(3), OrvFloat(5), OrvFloat(2)));
  EXPECT_EQ(Min(a).f, 1);
  EXPECT_EQ(Max(a).f, 5);
  EXPECT_EQ(DotProduct(a, b).f, 27);
  EXPECT_TRUE(CrossProduct(a, b) == CDHVector(OrvFloat(2), OrvFloat(4), OrvFloat(-11)));
  EXPECT_FALSE(a < b);
  EXPECT_TRUE(a <= CDHVector(OrvFloat(1), OrvFloat(5), OrvFloat(3)));
  CDHVector c = a;
  c += b;
  c *= OrvFloat(2);
  EXPECT_TRUE(c == CDHVector(OrvFloat(8), OrvFloat(18), OrvFloat(8)));
  EXPECT_TRUE(c / OrvFloat(2) - b == a);
  EXPECT_TRUE(-a == CDHVector(OrvFloat(-1), OrvFloat(-5), OrvFloat(-2)));
}

}  // namespace
