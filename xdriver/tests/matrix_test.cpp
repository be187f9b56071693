// Vector and 4 x 4 matrix math against references computed here in double
// precision on row-major arrays: loads transpose, products, vector
// products, determinants, adjoints and inverses, and the views.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "xdriver/matrix.h"

namespace {

// Row-major reference product: r = a * b.
void Product(const double* a, const double* b, double* r) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[4 * i + k] * b[4 * k + j];
      r[4 * i + j] = sum;
    }
}

// Reference determinant by elimination with partial pivoting.
double Determinant(const double* m) {
  double a[16];
  std::memcpy(a, m, sizeof a);
  double det = 1;
  for (int c = 0; c < 4; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(a[4 * r + c]) > std::fabs(a[4 * pivot + c])) pivot = r;
    if (a[4 * pivot + c] == 0) return 0;
    if (pivot != c) {
      for (int k = 0; k < 4; ++k) std::swap(a[4 * c + k], a[4 * pivot + k]);
      det = -det;
    }
    det *= a[4 * c + c];
    for (int r = c + 1; r < 4; ++r) {
      const double f = a[4 * r + c] / a[4 * c + c];
      for (int k = c; k < 4; ++k) a[4 * r + k] -= f * a[4 * c + k];
    }
  }
  return det;
}

const double kA[16] = {2, -1, 0, 3, 1, 4, -2, 0.5, 0, 3, 5, -1, -2, 0.25, 1, 6};
const double kB[16] = {1, 0, 2, -1, 3, 1, 0, 2, -1, 2, 1, 0, 0.5, -3, 4, 1};

TEST(MatrixTest, LoadTransposesAndUnloadGivesTheArrayBack) {
  float a[16], out[16];
  for (int i = 0; i < 16; ++i) a[i] = static_cast<float>(i);
  Matrix m(a);
  m.Unload(out);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], i);
  // Storage is column-major: element (row 0, column 1) = 1 sits at e[4].
  EXPECT_EQ(m.e[4], 1);
  EXPECT_EQ(m.e[1], 4);
  // The transpose unloads as the column-major list.
  m.Transpose().Unload(out);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(out[4 * r + c], 4 * c + r);

  // The other ways in and out agree.
  double d[16], back[16];
  for (int i = 0; i < 16; ++i) d[i] = i + 0.5;
  Matrix fromDouble(d);
  fromDouble.Unload(back);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(back[i], i + 0.5);
  Matrix listed(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  EXPECT_EQ(std::memcmp(listed.e, m.e, sizeof m.e), 0);
  Matrix filled(2.5f);
  for (float v : filled.e) EXPECT_EQ(v, 2.5f);
  Matrix identity;
  EXPECT_EQ(std::memcmp(identity.e, Matrix::sm_afIdentityMatrix, sizeof identity.e), 0);
}

TEST(MatrixTest, ProductsAgreeWithTheRowMajorReference) {
  const Matrix a(kA), b(kB);
  double expected[16], actual[16];
  Product(kA, kB, expected);
  (a * b).Unload(actual);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4) << i;

  Matrix c = a;
  c *= b;
  c.Unload(actual);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4) << "*= " << i;

  // PreMultiply: b * a, from a Matrix, a float array and a double array.
  Product(kB, kA, expected);
  float bf[16];
  for (int i = 0; i < 16; ++i) bf[i] = static_cast<float>(kB[i]);
  Matrix p1 = a, p2 = a, p3 = a;
  p1.PreMultiply(b);
  p2.PreMultiply(bf);
  p3.PreMultiply(kB);
  for (Matrix* p : {&p1, &p2, &p3}) {
    p->Unload(actual);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4) << "premultiply " << i;
  }

  // A matrix times itself through *= uses the values from before the call.
  Matrix self = a;
  self *= self;
  Product(kA, kA, expected);
  self.Unload(actual);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4) << "self " << i;

  (a * 2.0f).Unload(actual);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(actual[i], 2 * kA[i]);
}

TEST(MatrixTest, VectorsMultiplyAsRowVectorsFromTheLeft) {
  // A translation by (10, 20, 30) in the last row of a row-major array.
  const double translation[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1};
  EXPECT_EQ(Vector(1, 2, 3) * Matrix(translation), HomogenVector(11, 22, 33, 1));

  const Matrix a(kA);
  const HomogenVector h(1.5f, -2, 0.5f, 3);
  const HomogenVector r = h * a;
  for (int j = 0; j < 4; ++j) {
    double expected = 0;
    for (int k = 0; k < 4; ++k) expected += h[k] * kA[4 * k + j];
    EXPECT_NEAR(r[j], expected, 1e-4) << j;
  }
  const HomogenVector fromVector = Vector(1.5f, -2, 0.5f) * a;
  for (int j = 0; j < 4; ++j) {
    double expected = 0;
    const double v[4] = {1.5, -2, 0.5, 1};
    for (int k = 0; k < 4; ++k) expected += v[k] * kA[4 * k + j];
    EXPECT_NEAR(fromVector[j], expected, 1e-4) << j;
  }
}

TEST(MatrixTest, DeterminantAdjointAndInverse) {
  const Matrix a(kA);
  const double det = Determinant(kA);
  EXPECT_NEAR(a.Determinant(), det, 1e-3);

  // M x adj(M) = det(M) x I.
  float adjoint[16];
  a.Adjoint().Unload(adjoint);
  double adj[16], product[16];
  for (int i = 0; i < 16; ++i) adj[i] = adjoint[i];
  Product(kA, adj, product);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(product[4 * r + c], r == c ? det : 0, 1e-3) << r << "," << c;

  // M x M^-1 = I.
  float inverse[16];
  a.Inverse().Unload(inverse);
  double inv[16];
  for (int i = 0; i < 16; ++i) inv[i] = inverse[i];
  Product(kA, inv, product);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(product[4 * r + c], r == c ? 1 : 0, 1e-5) << r << "," << c;

  // Zeros, a singular matrix and the identity all give the identity.
  const double singular[16] = {1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 1, 5, 5, 5, 5};
  const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  for (const Matrix& m : {Matrix(0.0f), Matrix(singular), Matrix()}) {
    float out[16];
    m.Inverse().Unload(out);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], identity[i]);
  }

  // Det3 takes the elements e[4r + c] it is named.
  float e[16];
  for (int i = 0; i < 16; ++i) e[i] = static_cast<float>(kA[i]);
  Matrix raw;
  std::memcpy(raw.e, e, sizeof e);
  const double three[9] = {e[4 * 0 + 1], e[4 * 0 + 2], e[4 * 0 + 3],
                           e[4 * 2 + 1], e[4 * 2 + 2], e[4 * 2 + 3],
                           e[4 * 3 + 1], e[4 * 3 + 2], e[4 * 3 + 3]};
  const double det3 = three[0] * (three[4] * three[8] - three[5] * three[7]) -
                      three[1] * (three[3] * three[8] - three[5] * three[6]) +
                      three[2] * (three[3] * three[7] - three[4] * three[6]);
  EXPECT_NEAR(raw.Det3(1, 2, 3, 0, 2, 3), det3, 1e-4);
}

TEST(MatrixTest, ViewsWorkOnTheirArrayAndTheUpperViewCopiesNineElements) {
  float storage[16], other[16];
  MatrixPointer view(storage), second(other);
  EXPECT_EQ(MatrixPointer().p, nullptr);
  view = Matrix(kA);
  second = Matrix(kB);
  double expected[16], actual[16];
  Product(kA, kB, expected);
  (view * second).Unload(actual);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4) << i;
  EXPECT_NEAR(view.Determinant(), Determinant(kA), 1e-3);
  EXPECT_EQ(std::memcmp(view.Inverse().e, Matrix(kA).Inverse().e, sizeof storage), 0);
  EXPECT_EQ(std::memcmp(view.Transpose().e, Matrix(kA).Transpose().e, sizeof storage), 0);

  // *= on itself multiplies the values from before the call.
  view *= view;
  Product(kA, kA, expected);
  view.Unload(actual);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4) << "self " << i;

  // Assignment between views copies the elements.
  second = view;
  EXPECT_EQ(std::memcmp(other, storage, sizeof storage), 0);
  EXPECT_NE(second.p, view.p);

  float upper[16];
  for (float& v : upper) v = -7;
  UpMatrixPointer up(upper);
  const Matrix b(kB);
  up = b;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_EQ(upper[4 * i + j], (i < 3 && j < 3) ? b.e[4 * i + j] : -7) << i << "," << j;
  up = MatrixPointer(storage);
  EXPECT_EQ(upper[5], storage[5]);
  EXPECT_EQ(upper[15], -7);
}

TEST(VectorTest, MagnitudeNormalizeAndComponentRules) {
  EXPECT_EQ(Normalize(Vector(0, 0, 0)), Vector(0, 0, 0));
  const Vector n = Normalize(Vector(3, 0, 4));
  EXPECT_FLOAT_EQ(n.x, 0.6f);
  EXPECT_EQ(n.y, 0);
  EXPECT_FLOAT_EQ(n.z, 0.8f);
  EXPECT_EQ(Magnitude(Vector(2, 3, 6)), 7);
  EXPECT_EQ(Minimize(Vector(1, 5, 2), Vector(3, 4, 2)), Vector(1, 4, 2));
  EXPECT_EQ(Maximize(Vector(1, 5, 2), Vector(3, 4, 2)), Vector(3, 5, 2));
  EXPECT_EQ(Min(Vector(4, -1, 2)), -1);
  EXPECT_EQ(Max(Vector(4, -1, 2)), 4);
  EXPECT_EQ(CrossProduct(Vector(1, 0, 0), Vector(0, 1, 0)), Vector(0, 0, 1));
  EXPECT_EQ(DotProduct(Vector(1, 2, 3), Vector(4, -5, 6)), 12);
  // < and <= hold only when they hold for every component.
  EXPECT_TRUE(Vector(1, 2, 3) < Vector(2, 3, 4));
  EXPECT_FALSE(Vector(1, 3, 3) < Vector(2, 3, 4));
  EXPECT_TRUE(Vector(1, 3, 3) <= Vector(2, 3, 4));
  EXPECT_EQ(-Vector(1, -2, 3), Vector(-1, 2, -3));
  EXPECT_EQ(Vector(2, 4, 6) / 2.0f, Vector(1, 2, 3));
  const float p[3] = {7, 8, 9};
  EXPECT_EQ(Vector(p)[2], 9);
}

TEST(VectorTest, HomogenConversionsDivideByW) {
  EXPECT_EQ(HomogenVector(), HomogenVector(0, 0, 0, 1));
  EXPECT_EQ(HomogenVector(Vector(1, 2, 3)), HomogenVector(1, 2, 3, 1));
  struct Case {
    HomogenVector h;
    Vector v;
    ProjectedVector p;
  };
  const Case cases[] = {
      {HomogenVector(2, 4, 6, 1), Vector(2, 4, 6), ProjectedVector(2, 4, 6, 1)},
      {HomogenVector(2, 4, 6, 0), Vector(0, 0, 0), ProjectedVector(0, 0, 0, 0)},
      {HomogenVector(2, 4, 6, 2), Vector(1, 2, 3), ProjectedVector(1, 2, 3, 0.5f)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<Vector>(c.h), c.v) << c.h.w;
    EXPECT_EQ(static_cast<ProjectedVector>(c.h), c.p) << c.h.w;
  }
  EXPECT_EQ(ProjectedVector(), ProjectedVector(0, 0, 0, 1));
  EXPECT_EQ(static_cast<Vector>(ProjectedVector(1, 2, 3, 4)), Vector(1, 2, 3));
  EXPECT_EQ(Abs(HomogenVector(-1, 2, -3, -4)), HomogenVector(1, 2, 3, 4));
  EXPECT_EQ(Normalize(HomogenVector(0, 0, 0, 0)), HomogenVector(0, 0, 0, 0));
  EXPECT_EQ(Magnitude(HomogenVector(1, 1, 1, 1)), 2);
  EXPECT_EQ(Min(HomogenVector(3, 2, 5, -1)), -1);
  EXPECT_EQ(Max(HomogenVector(3, 2, 5, -1)), 5);
  EXPECT_EQ(HomogenVector(2.0f) * 2.0f, HomogenVector(4, 4, 4, 4));
}

}  // namespace
