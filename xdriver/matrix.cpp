#include "xdriver/matrix.h"

#include "core/same_bytes.h"

// Every operation works on sixteen floats in Matrix's element order, so
// Matrix and MatrixPointer share one implementation.
namespace {

void LoadRowMajor(float* e, const float* a) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) e[4 * j + i] = a[4 * i + j];
}

void LoadRowMajor(float* e, const double* a) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) e[4 * j + i] = static_cast<float>(a[4 * i + j]);
}

template <typename T>
void UnloadRowMajor(const float* e, T* a) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a[4 * i + j] = e[4 * j + i];
}

void Copy16(float* to, const float* from) {
  for (int i = 0; i < 16; ++i) to[i] = from[i];
}

// *a := a * b, or *a := b * a, from copies of both.
void MultiplyInto(float* a, const float* b, bool pre) {
  float left[16], right[16];
  Copy16(left, pre ? b : a);
  Copy16(right, pre ? a : b);
  orv_math::Multiply(a, left, right);
}

void Scale(float* r, const float* m, float s) {
  for (int i = 0; i < 16; ++i) r[i] = m[i] * s;
}

float Det3(const float* e, int c0, int c1, int c2, int r0, int r1, int r2) {
  auto at = [e](int r, int c) { return e[4 * r + c]; };
  return at(r0, c0) * (at(r1, c1) * at(r2, c2) - at(r1, c2) * at(r2, c1)) -
         at(r1, c0) * (at(r0, c1) * at(r2, c2) - at(r0, c2) * at(r2, c1)) +
         at(r2, c0) * (at(r0, c1) * at(r1, c2) - at(r0, c2) * at(r1, c1));
}

// The 2 x 2 minors of the first two and of the last two rows of the array
// a[i][j] = e[4i + j]; the determinant and the adjoint are built from them.
struct Minors {
  explicit Minors(const float* e) {
    s[0] = e[0] * e[5] - e[4] * e[1];
    s[1] = e[0] * e[6] - e[4] * e[2];
    s[2] = e[0] * e[7] - e[4] * e[3];
    s[3] = e[1] * e[6] - e[5] * e[2];
    s[4] = e[1] * e[7] - e[5] * e[3];
    s[5] = e[2] * e[7] - e[6] * e[3];
    c[0] = e[8] * e[13] - e[12] * e[9];
    c[1] = e[8] * e[14] - e[12] * e[10];
    c[2] = e[8] * e[15] - e[12] * e[11];
    c[3] = e[9] * e[14] - e[13] * e[10];
    c[4] = e[9] * e[15] - e[13] * e[11];
    c[5] = e[10] * e[15] - e[14] * e[11];
  }
  float Determinant() const {
    return s[0] * c[5] - s[1] * c[4] + s[2] * c[3] + s[3] * c[2] - s[4] * c[1] + s[5] * c[0];
  }
  float s[6], c[6];
};

float Determinant(const float* e) { return Minors(e).Determinant(); }

// The adjoint of the array is the adjoint of the matrix in Matrix's
// element order too (the array is the matrix transposed, and transposing
// commutes with the adjoint).
void Adjoint(float* r, const float* e, const Minors& m) {
  const float* s = m.s;
  const float* c = m.c;
  r[0] = e[5] * c[5] - e[6] * c[4] + e[7] * c[3];
  r[1] = -e[1] * c[5] + e[2] * c[4] - e[3] * c[3];
  r[2] = e[13] * s[5] - e[14] * s[4] + e[15] * s[3];
  r[3] = -e[9] * s[5] + e[10] * s[4] - e[11] * s[3];
  r[4] = -e[4] * c[5] + e[6] * c[2] - e[7] * c[1];
  r[5] = e[0] * c[5] - e[2] * c[2] + e[3] * c[1];
  r[6] = -e[12] * s[5] + e[14] * s[2] - e[15] * s[1];
  r[7] = e[8] * s[5] - e[10] * s[2] + e[11] * s[1];
  r[8] = e[4] * c[4] - e[5] * c[2] + e[7] * c[0];
  r[9] = -e[0] * c[4] + e[1] * c[2] - e[3] * c[0];
  r[10] = e[12] * s[4] - e[13] * s[2] + e[15] * s[0];
  r[11] = -e[8] * s[4] + e[9] * s[2] - e[11] * s[0];
  r[12] = -e[4] * c[3] + e[5] * c[1] - e[6] * c[0];
  r[13] = e[0] * c[3] - e[1] * c[1] + e[2] * c[0];
  r[14] = -e[12] * s[3] + e[13] * s[1] - e[14] * s[0];
  r[15] = e[8] * s[3] - e[9] * s[1] + e[10] * s[0];
}

void Adjoint(float* r, const float* e) { Adjoint(r, e, Minors(e)); }

void Inverse(float* r, const float* e, const float* identity) {
  if (SameBytes(e, identity, 16 * sizeof(float))) {
    Copy16(r, identity);
    return;
  }
  const Minors minors(e);
  const float d = minors.Determinant();
  if (d == 0.0f) {
    Copy16(r, identity);
    return;
  }
  Adjoint(r, e, minors);
  Scale(r, r, static_cast<float>(1.0 / d));
}

void Transpose(float* r, const float* e) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r[4 * j + i] = e[4 * i + j];
}

}  // namespace

static_assert(sizeof(Matrix) == 16 * sizeof(float), "a Matrix is its sixteen floats");

// ---- Shared operations -------------------------------------------------------------------

template <typename Self>
void MatrixOperations<Self>::Load(const float* a) { LoadRowMajor(Elements(), a); }
template <typename Self>
void MatrixOperations<Self>::Load(const double* a) { LoadRowMajor(Elements(), a); }
template <typename Self>
void MatrixOperations<Self>::Unload(float* a) const { UnloadRowMajor(Elements(), a); }
template <typename Self>
void MatrixOperations<Self>::Unload(double* a) const { UnloadRowMajor(Elements(), a); }

template <typename Self>
Self& MatrixOperations<Self>::operator*=(const Self& b) {
  MultiplyInto(Elements(), b.Elements(), false);
  return *static_cast<Self*>(this);
}

template <typename Self>
void MatrixOperations<Self>::PreMultiply(const Matrix& b) { MultiplyInto(Elements(), b.e, true); }

template <typename Self>
void MatrixOperations<Self>::PreMultiply(const float* a) {
  float b[16];
  LoadRowMajor(b, a);
  MultiplyInto(Elements(), b, true);
}

template <typename Self>
void MatrixOperations<Self>::PreMultiply(const double* a) {
  float b[16];
  LoadRowMajor(b, a);
  MultiplyInto(Elements(), b, true);
}

template <typename Self>
float MatrixOperations<Self>::Det3(int c0, int c1, int c2, int r0, int r1, int r2) const {
  return ::Det3(Elements(), c0, c1, c2, r0, r1, r2);
}

template <typename Self>
float MatrixOperations<Self>::Determinant() const { return ::Determinant(Elements()); }

template <typename Self>
Matrix MatrixOperations<Self>::Adjoint() const {
  Matrix r;
  ::Adjoint(r.e, Elements());
  return r;
}

template <typename Self>
Matrix MatrixOperations<Self>::Inverse() const {
  Matrix r;
  ::Inverse(r.e, Elements(), Self::sm_afIdentityMatrix);
  return r;
}

template <typename Self>
Matrix MatrixOperations<Self>::Transpose() const {
  Matrix r;
  ::Transpose(r.e, Elements());
  return r;
}

template class MatrixOperations<Matrix>;
template class MatrixOperations<MatrixPointer>;

// ---- Matrix -------------------------------------------------------------------------

const float Matrix::sm_afIdentityMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix::Matrix() { Copy16(e, sm_afIdentityMatrix); }

Matrix::Matrix(float s) {
  for (float& v : e) v = s;
}

Matrix::Matrix(float a00, float a01, float a02, float a03, float a10, float a11, float a12,
               float a13, float a20, float a21, float a22, float a23, float a30, float a31,
               float a32, float a33) {
  const float rows[16] = {a00, a01, a02, a03, a10, a11, a12, a13,
                          a20, a21, a22, a23, a30, a31, a32, a33};
  LoadRowMajor(e, rows);
}

Matrix& Matrix::operator=(const MatrixPointer& view) {
  Copy16(e, view.p);
  return *this;
}

Matrix operator*(const Matrix& m, float s) {
  Matrix r;
  Scale(r.e, m.e, s);
  return r;
}

// ---- MatrixPointer ------------------------------------------------------------------------

const float MatrixPointer::sm_afIdentityMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0,
                                                      0, 0, 1, 0, 0, 0, 0, 1};

MatrixPointer& MatrixPointer::operator=(const MatrixPointer& view) {
  if (p != view.p) Copy16(p, view.p);
  return *this;
}

MatrixPointer& MatrixPointer::operator=(const Matrix& m) {
  Copy16(p, m.e);
  return *this;
}

Matrix operator*(const MatrixPointer& m, float s) {
  Matrix r;
  Scale(r.e, m.p, s);
  return r;
}

// ---- UpMatrixPointer ------------------------------------------------------------------------

namespace {

void CopyUpper(float* to, const float* from) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) to[4 * i + j] = from[4 * i + j];
}

}  // namespace

UpMatrixPointer& UpMatrixPointer::operator=(const Matrix& m) {
  CopyUpper(p, m.e);
  return *this;
}

UpMatrixPointer& UpMatrixPointer::operator=(const MatrixPointer& view) {
  CopyUpper(p, view.p);
  return *this;
}
