// Vector and 4 x 4 matrix math in 32-bit floats: Vector, HomogenVector,
// ProjectedVector, Matrix, and the views MatrixPointer and UpMatrixPointer
// over float arrays owned by someone else.
//
// One source for both builds: the X driver (colour-space matrices) and the
// kernel module (vertex transform and lighting) compile it unchanged. It
// therefore includes nothing, allocates nothing, has no statics built at
// run time, and reaches the square root only through OrvMathSqrt, which
// each build defines once.
//
// Matrix keeps its 16 floats column-major: element (row r, column c) is
// e[4c + r]. Arrays exchanged with callers (Load, Unload, the array
// constructors and PreMultiply) are row-major, element (r, c) at a[4r + c],
// so loads and unloads transpose. A vector multiplies as a row vector from
// the left, with w = 1 appended to a Vector. Nothing checks indices or
// guards a division, except where a function says so.
#pragma once

// The square root seam: the X-driver build uses the processor's square
// root, the kernel build supplies its own.
double OrvMathSqrt(double value);

class Vector {
 public:
  Vector() : x(0), y(0), z(0) {}
  explicit Vector(float s) : x(s), y(s), z(s) {}
  Vector(float vx, float vy, float vz) : x(vx), y(vy), z(vz) {}
  explicit Vector(const float* p) : x(p[0]), y(p[1]), z(p[2]) {}
  Vector(const Vector&) = default;
  Vector& operator=(const Vector&) = default;

  float& operator[](int i) { return (&x)[i]; }
  const float& operator[](int i) const { return (&x)[i]; }

  Vector& operator+=(const Vector& v) { x += v.x; y += v.y; z += v.z; return *this; }
  Vector& operator-=(const Vector& v) { x -= v.x; y -= v.y; z -= v.z; return *this; }
  Vector& operator*=(const Vector& v) { x *= v.x; y *= v.y; z *= v.z; return *this; }
  Vector& operator/=(const Vector& v) { x /= v.x; y /= v.y; z /= v.z; return *this; }
  Vector& operator*=(float s) { x *= s; y *= s; z *= s; return *this; }
  Vector& operator/=(float s) { x /= s; y /= s; z /= s; return *this; }

  float x, y, z;
};

inline Vector operator+(const Vector& v) { return v; }
inline Vector operator-(const Vector& v) { return Vector(-v.x, -v.y, -v.z); }
inline Vector operator+(const Vector& a, const Vector& b) { return Vector(a.x + b.x, a.y + b.y, a.z + b.z); }
inline Vector operator-(const Vector& a, const Vector& b) { return Vector(a.x - b.x, a.y - b.y, a.z - b.z); }
inline Vector operator*(const Vector& a, const Vector& b) { return Vector(a.x * b.x, a.y * b.y, a.z * b.z); }
inline Vector operator/(const Vector& a, const Vector& b) { return Vector(a.x / b.x, a.y / b.y, a.z / b.z); }
inline Vector operator*(const Vector& v, float s) { return Vector(v.x * s, v.y * s, v.z * s); }
inline Vector operator*(float s, const Vector& v) { return Vector(v.x * s, v.y * s, v.z * s); }
inline Vector operator/(const Vector& v, float s) { return Vector(v.x / s, v.y / s, v.z / s); }
// True when every component of the left is below (at most) the right's.
inline bool operator<(const Vector& a, const Vector& b) { return a.x < b.x && a.y < b.y && a.z < b.z; }
inline bool operator<=(const Vector& a, const Vector& b) { return a.x <= b.x && a.y <= b.y && a.z <= b.z; }
inline bool operator==(const Vector& a, const Vector& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
inline bool operator!=(const Vector& a, const Vector& b) { return !(a == b); }

inline float SquareMagnitude(const Vector& v) { return v.x * v.x + v.y * v.y + v.z * v.z; }
inline float Magnitude(const Vector& v) { return static_cast<float>(OrvMathSqrt(SquareMagnitude(v))); }
// The zero vector stays as it is.
inline Vector Normalize(const Vector& v) {
  if (v.x == 0 && v.y == 0 && v.z == 0) return v;
  return v / Magnitude(v);
}
inline float Min(const Vector& v) {
  const float m = v.x < v.y ? v.x : v.y;
  return m < v.z ? m : v.z;
}
inline float Max(const Vector& v) {
  const float m = v.x > v.y ? v.x : v.y;
  return m > v.z ? m : v.z;
}
inline Vector Minimize(const Vector& a, const Vector& b) {
  return Vector(a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, a.z < b.z ? a.z : b.z);
}
inline Vector Maximize(const Vector& a, const Vector& b) {
  return Vector(a.x > b.x ? a.x : b.x, a.y > b.y ? a.y : b.y, a.z > b.z ? a.z : b.z);
}
inline float DotProduct(const Vector& a, const Vector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vector CrossProduct(const Vector& a, const Vector& b) {
  return Vector(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

class ProjectedVector {
 public:
  ProjectedVector() : x(0), y(0), z(0), w(1) {}
  ProjectedVector(float vx, float vy, float vz, float vw) : x(vx), y(vy), z(vz), w(vw) {}
  explicit ProjectedVector(const float* p) : x(p[0]), y(p[1]), z(p[2]), w(p[3]) {}
  explicit ProjectedVector(const Vector& v) : x(v.x), y(v.y), z(v.z), w(1) {}
  ProjectedVector(const ProjectedVector&) = default;
  ProjectedVector& operator=(const ProjectedVector&) = default;

  float& operator[](int i) { return (&x)[i]; }
  const float& operator[](int i) const { return (&x)[i]; }
  operator Vector() const { return Vector(x, y, z); }

  float x, y, z, w;
};

inline bool operator==(const ProjectedVector& a, const ProjectedVector& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}
inline bool operator!=(const ProjectedVector& a, const ProjectedVector& b) { return !(a == b); }

class HomogenVector {
 public:
  HomogenVector() : x(0), y(0), z(0), w(1) {}
  explicit HomogenVector(float s) : x(s), y(s), z(s), w(s) {}
  HomogenVector(float vx, float vy, float vz, float vw) : x(vx), y(vy), z(vz), w(vw) {}
  explicit HomogenVector(const float* p) : x(p[0]), y(p[1]), z(p[2]), w(p[3]) {}
  explicit HomogenVector(const Vector& v) : x(v.x), y(v.y), z(v.z), w(1) {}
  HomogenVector(const HomogenVector&) = default;
  HomogenVector& operator=(const HomogenVector&) = default;

  float& operator[](int i) { return (&x)[i]; }
  const float& operator[](int i) const { return (&x)[i]; }

  HomogenVector& operator+=(const HomogenVector& v) { x += v.x; y += v.y; z += v.z; w += v.w; return *this; }
  HomogenVector& operator-=(const HomogenVector& v) { x -= v.x; y -= v.y; z -= v.z; w -= v.w; return *this; }
  HomogenVector& operator*=(const HomogenVector& v) { x *= v.x; y *= v.y; z *= v.z; w *= v.w; return *this; }
  HomogenVector& operator/=(const HomogenVector& v) { x /= v.x; y /= v.y; z /= v.z; w /= v.w; return *this; }
  HomogenVector& operator*=(float s) { x *= s; y *= s; z *= s; w *= s; return *this; }
  HomogenVector& operator/=(float s) { x /= s; y /= s; z /= s; w /= s; return *this; }

  // w = 1: (x, y, z); w = 0: the zero vector; otherwise divided by w.
  operator Vector() const {
    if (w == 1) return Vector(x, y, z);
    if (w == 0) return Vector();
    const float r = 1 / w;
    return Vector(x * r, y * r, z * r);
  }
  // w = 1: (x, y, z, 1); w = 0: (0, 0, 0, 0); otherwise (x/w, y/w, z/w, 1/w).
  operator ProjectedVector() const {
    if (w == 1) return ProjectedVector(x, y, z, 1);
    if (w == 0) return ProjectedVector(0, 0, 0, 0);
    const float r = 1 / w;
    return ProjectedVector(x * r, y * r, z * r, r);
  }

  float x, y, z, w;
};

inline HomogenVector operator+(const HomogenVector& v) { return v; }
inline HomogenVector operator-(const HomogenVector& v) { return HomogenVector(-v.x, -v.y, -v.z, -v.w); }
inline HomogenVector operator+(const HomogenVector& a, const HomogenVector& b) {
  return HomogenVector(a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w);
}
inline HomogenVector operator-(const HomogenVector& a, const HomogenVector& b) {
  return HomogenVector(a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w);
}
inline HomogenVector operator*(const HomogenVector& a, const HomogenVector& b) {
  return HomogenVector(a.x * b.x, a.y * b.y, a.z * b.z, a.w * b.w);
}
inline HomogenVector operator/(const HomogenVector& a, const HomogenVector& b) {
  return HomogenVector(a.x / b.x, a.y / b.y, a.z / b.z, a.w / b.w);
}
inline HomogenVector operator*(const HomogenVector& v, float s) { return HomogenVector(v.x * s, v.y * s, v.z * s, v.w * s); }
inline HomogenVector operator*(float s, const HomogenVector& v) { return HomogenVector(v.x * s, v.y * s, v.z * s, v.w * s); }
inline HomogenVector operator/(const HomogenVector& v, float s) { return HomogenVector(v.x / s, v.y / s, v.z / s, v.w / s); }
inline bool operator<(const HomogenVector& a, const HomogenVector& b) {
  return a.x < b.x && a.y < b.y && a.z < b.z && a.w < b.w;
}
inline bool operator<=(const HomogenVector& a, const HomogenVector& b) {
  return a.x <= b.x && a.y <= b.y && a.z <= b.z && a.w <= b.w;
}
inline bool operator==(const HomogenVector& a, const HomogenVector& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}
inline bool operator!=(const HomogenVector& a, const HomogenVector& b) { return !(a == b); }

inline float SquareMagnitude(const HomogenVector& v) { return v.x * v.x + v.y * v.y + v.z * v.z + v.w * v.w; }
inline float Magnitude(const HomogenVector& v) { return static_cast<float>(OrvMathSqrt(SquareMagnitude(v))); }
inline HomogenVector Normalize(const HomogenVector& v) {
  if (v.x == 0 && v.y == 0 && v.z == 0 && v.w == 0) return v;
  return v / Magnitude(v);
}
inline float Min(const HomogenVector& v) {
  const float a = v.x < v.y ? v.x : v.y;
  const float b = v.z < v.w ? v.z : v.w;
  return a < b ? a : b;
}
inline float Max(const HomogenVector& v) {
  const float a = v.x > v.y ? v.x : v.y;
  const float b = v.z > v.w ? v.z : v.w;
  return a > b ? a : b;
}
inline HomogenVector Minimize(const HomogenVector& a, const HomogenVector& b) {
  return HomogenVector(a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, a.z < b.z ? a.z : b.z,
                       a.w < b.w ? a.w : b.w);
}
inline HomogenVector Maximize(const HomogenVector& a, const HomogenVector& b) {
  return HomogenVector(a.x > b.x ? a.x : b.x, a.y > b.y ? a.y : b.y, a.z > b.z ? a.z : b.z,
                       a.w > b.w ? a.w : b.w);
}
inline float DotProduct(const HomogenVector& a, const HomogenVector& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}
inline HomogenVector Abs(const HomogenVector& v) {
  return HomogenVector(v.x < 0 ? -v.x : v.x, v.y < 0 ? -v.y : v.y, v.z < 0 ? -v.z : v.z,
                       v.w < 0 ? -v.w : v.w);
}

class Matrix;
class MatrixPointer;

// The operations Matrix and MatrixPointer share, on the sixteen elements
// that Self::Elements() gives.
template <typename Self>
class MatrixOperations {
 public:
  void Load(const float* rowMajor);
  void Load(const double* rowMajor);
  void Unload(float* rowMajor) const;
  void Unload(double* rowMajor) const;

  // A := A * B, from the values A and B held before the call.
  Self& operator*=(const Self& b);
  // A := B * A.
  void PreMultiply(const Matrix& b);
  void PreMultiply(const float* rowMajor);
  void PreMultiply(const double* rowMajor);

  // Determinant of the 3 x 3 elements e[4r + c], r in (r0, r1, r2) and c in
  // (c0, c1, c2), expanded along c0.
  float Det3(int c0, int c1, int c2, int r0, int r1, int r2) const;
  float Determinant() const;
  Matrix Adjoint() const;
  // The identity for the identity (compared byte by byte with the class's
  // identity constant) and for a determinant of exactly 0; otherwise the
  // adjoint times 1 / determinant.
  Matrix Inverse() const;
  Matrix Transpose() const;

 private:
  float* Elements() { return static_cast<Self*>(this)->Elements(); }
  const float* Elements() const { return static_cast<const Self*>(this)->Elements(); }
};

class Matrix : public MatrixOperations<Matrix> {
 public:
  // The identity (the transform-and-lighting set-up relies on it).
  Matrix();
  // All sixteen elements s.
  explicit Matrix(float s);
  // Sixteen values as a row-major list.
  Matrix(float a00, float a01, float a02, float a03, float a10, float a11, float a12, float a13,
         float a20, float a21, float a22, float a23, float a30, float a31, float a32, float a33);
  explicit Matrix(const float* rowMajor) { Load(rowMajor); }
  explicit Matrix(const double* rowMajor) { Load(rowMajor); }
  Matrix(const Matrix&) = default;
  Matrix& operator=(const Matrix&) = default;
  Matrix& operator=(const MatrixPointer& view);

  float* Elements() { return e; }
  const float* Elements() const { return e; }

  static const float sm_afIdentityMatrix[16];

  float e[16];

 private:
  // For results that are written whole at once.
  enum Unset { kUnset };
  explicit Matrix(Unset) {}
  friend Matrix operator*(const Matrix& a, const Matrix& b);
  friend Matrix operator*(const MatrixPointer& a, const MatrixPointer& b);
};

// The products are on the per-vertex path: inline.
namespace orv_math {

// r = a * b in Matrix's element order; r is neither a nor b.
inline void Multiply(float* r, const float* a, const float* b) {
  for (int j = 0; j < 4; ++j) {
    const float b0 = b[4 * j], b1 = b[4 * j + 1], b2 = b[4 * j + 2], b3 = b[4 * j + 3];
    for (int i = 0; i < 4; ++i) r[4 * j + i] = b0 * a[i] + b1 * a[4 + i] + b2 * a[8 + i] + b3 * a[12 + i];
  }
}

// Row vector (x, y, z, w) times the matrix m.
inline HomogenVector Transform(float x, float y, float z, float w, const float* m) {
  return HomogenVector(m[0] * x + m[1] * y + m[2] * z + m[3] * w,
                       m[4] * x + m[5] * y + m[6] * z + m[7] * w,
                       m[8] * x + m[9] * y + m[10] * z + m[11] * w,
                       m[12] * x + m[13] * y + m[14] * z + m[15] * w);
}

}  // namespace orv_math

inline Matrix operator*(const Matrix& a, const Matrix& b) {
  Matrix r(Matrix::kUnset);
  orv_math::Multiply(r.e, a.e, b.e);
  return r;
}
Matrix operator*(const Matrix& m, float s);
// Row vector v' = (x, y, z, 1) times M: h[j] = sum over k of M.e[4j + k] v'[k].
inline HomogenVector operator*(const Vector& v, const Matrix& m) {
  return orv_math::Transform(v.x, v.y, v.z, 1, m.e);
}
inline HomogenVector operator*(const HomogenVector& v, const Matrix& m) {
  return orv_math::Transform(v.x, v.y, v.z, v.w, m.e);
}

// The operations of Matrix on sixteen floats that someone else owns, in
// Matrix's element order. Null after default construction.
class MatrixPointer : public MatrixOperations<MatrixPointer> {
 public:
  MatrixPointer() : p(nullptr) {}
  explicit MatrixPointer(float* elements) : p(elements) {}
  MatrixPointer(const MatrixPointer&) = default;
  ~MatrixPointer() { p = nullptr; }

  // These copy the sixteen elements into the viewed array.
  MatrixPointer& operator=(const MatrixPointer& view);
  MatrixPointer& operator=(const Matrix& m);

  float* Elements() { return p; }
  const float* Elements() const { return p; }

  static const float sm_afIdentityMatrix[16];

  float* p;
};

inline Matrix operator*(const MatrixPointer& a, const MatrixPointer& b) {
  Matrix r(Matrix::kUnset);
  orv_math::Multiply(r.e, a.p, b.p);
  return r;
}
Matrix operator*(const MatrixPointer& m, float s);
inline HomogenVector operator*(const Vector& v, const MatrixPointer& m) {
  return orv_math::Transform(v.x, v.y, v.z, 1, m.p);
}
inline HomogenVector operator*(const HomogenVector& v, const MatrixPointer& m) {
  return orv_math::Transform(v.x, v.y, v.z, v.w, m.p);
}

// A view of the upper-left 3 x 3 part of sixteen floats someone else owns.
class UpMatrixPointer {
 public:
  UpMatrixPointer() : p(nullptr) {}
  explicit UpMatrixPointer(float* elements) : p(elements) {}
  UpMatrixPointer(const UpMatrixPointer&) = default;
  UpMatrixPointer& operator=(const UpMatrixPointer&) = delete;
  ~UpMatrixPointer() { p = nullptr; }

  // Copy the nine elements e[4i + j] (i, j in 0..2); the other seven
  // elements of the viewed array keep their values.
  UpMatrixPointer& operator=(const Matrix& m);
  UpMatrixPointer& operator=(const MatrixPointer& view);

  float* p;
};
