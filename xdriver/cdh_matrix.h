// The display-processing math: the value type OrvFloat, its named
// constants (OrvFloatVar), three-component CDHVector and the 3 x 3
// CDHMatrix.
//
// Unlike Matrix, CDHMatrix is row-major without transposition (element
// (r, c) at e[3r + c]); loads copy in order; a vector multiplies as a row
// vector from the left without a homogeneous component. Like the rest of
// the math it includes nothing, allocates nothing, and its constants are
// constant-initialised.
#pragma once

class OrvFloatVar;

class OrvFloat {
 public:
  OrvFloat() = default;  // unset
  OrvFloat(int value) : f(static_cast<float>(value)) {}
  explicit OrvFloat(float value) : f(value) {}
  constexpr OrvFloat(const OrvFloatVar& value);
  OrvFloat(const OrvFloat&) = default;
  OrvFloat& operator=(const OrvFloat&) = default;

  OrvFloat& operator+=(OrvFloat v) { f += v.f; return *this; }
  OrvFloat& operator-=(OrvFloat v) { f -= v.f; return *this; }
  OrvFloat& operator*=(OrvFloat v) { f *= v.f; return *this; }
  OrvFloat& operator/=(OrvFloat v) { f /= v.f; return *this; }

  float f;
};

inline OrvFloat operator+(OrvFloat v) { return v; }
inline OrvFloat operator-(OrvFloat v) { return OrvFloat(-v.f); }
inline OrvFloat operator+(OrvFloat a, OrvFloat b) { return OrvFloat(a.f + b.f); }
inline OrvFloat operator-(OrvFloat a, OrvFloat b) { return OrvFloat(a.f - b.f); }
inline OrvFloat operator*(OrvFloat a, OrvFloat b) { return OrvFloat(a.f * b.f); }
inline OrvFloat operator/(OrvFloat a, OrvFloat b) { return OrvFloat(a.f / b.f); }
inline bool operator<(OrvFloat a, OrvFloat b) { return a.f < b.f; }
inline bool operator<=(OrvFloat a, OrvFloat b) { return a.f <= b.f; }
inline bool operator>(OrvFloat a, OrvFloat b) { return a.f > b.f; }
inline bool operator>=(OrvFloat a, OrvFloat b) { return a.f >= b.f; }
inline bool operator==(OrvFloat a, OrvFloat b) { return a.f == b.f; }
inline bool operator!=(OrvFloat a, OrvFloat b) { return a.f != b.f; }

// One named constant of the display-processing programs.
class OrvFloatVar {
 public:
  constexpr explicit OrvFloatVar(float value) : f(value) {}
  float f;
};

constexpr OrvFloat::OrvFloat(const OrvFloatVar& value) : f(value.f) {}

// ORVFLOATVAR_POS_iii_ffff is +iii.ffff, ORVFLOATVAR_NEG_iii_ffff is -iii.ffff.
inline constexpr OrvFloatVar ORVFLOATVAR_NEG_000_0710{-0.0710f};
inline constexpr OrvFloatVar ORVFLOATVAR_NEG_000_1480{-0.1480f};
inline constexpr OrvFloatVar ORVFLOATVAR_NEG_000_2910{-0.2910f};
inline constexpr OrvFloatVar ORVFLOATVAR_NEG_000_3680{-0.3680f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_0000{0.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_0625{0.0625f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_0980{0.0980f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_2500{0.2500f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_2570{0.2570f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_4390{0.4390f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_5000{0.5000f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_5040{0.5040f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_000_9000{0.9000f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_001_0000{1.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_001_5000{1.5f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_002_0000{2.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_003_0000{3.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_003_1416{3.1416f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_004_0000{4.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_005_0000{5.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_006_0000{6.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_007_0000{7.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_008_0000{8.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_009_0000{9.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_010_0000{10.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_011_0000{11.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_012_0000{12.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_016_0000{16.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_020_0000{20.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_128_0000{128.0f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_213_3333{213.3333f};
inline constexpr OrvFloatVar ORVFLOATVAR_POS_256_0000{256.0f};

class CDHVector {
 public:
  CDHVector() : x(0), y(0), z(0) {}
  explicit CDHVector(OrvFloat s) : x(s), y(s), z(s) {}
  explicit CDHVector(const OrvFloatVar& s) : x(s), y(s), z(s) {}
  CDHVector(OrvFloat vx, OrvFloat vy, OrvFloat vz) : x(vx), y(vy), z(vz) {}
  CDHVector(const OrvFloatVar& vx, const OrvFloatVar& vy, const OrvFloatVar& vz) : x(vx), y(vy), z(vz) {}
  explicit CDHVector(const OrvFloat* p) : x(p[0]), y(p[1]), z(p[2]) {}
  CDHVector(const CDHVector&) = default;
  CDHVector& operator=(const CDHVector&) = default;

  OrvFloat& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  const OrvFloat& operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

  CDHVector& operator+=(const CDHVector& v) { x += v.x; y += v.y; z += v.z; return *this; }
  CDHVector& operator-=(const CDHVector& v) { x -= v.x; y -= v.y; z -= v.z; return *this; }
  CDHVector& operator*=(const CDHVector& v) { x *= v.x; y *= v.y; z *= v.z; return *this; }
  CDHVector& operator/=(const CDHVector& v) { x /= v.x; y /= v.y; z /= v.z; return *this; }
  CDHVector& operator*=(OrvFloat s) { x *= s; y *= s; z *= s; return *this; }
  CDHVector& operator/=(OrvFloat s) { x /= s; y /= s; z /= s; return *this; }

  OrvFloat x, y, z;
};

inline CDHVector operator+(const CDHVector& v) { return v; }
inline CDHVector operator-(const CDHVector& v) { return CDHVector(-v.x, -v.y, -v.z); }
inline CDHVector operator+(const CDHVector& a, const CDHVector& b) { return CDHVector(a.x + b.x, a.y + b.y, a.z + b.z); }
inline CDHVector operator-(const CDHVector& a, const CDHVector& b) { return CDHVector(a.x - b.x, a.y - b.y, a.z - b.z); }
inline CDHVector operator*(const CDHVector& a, const CDHVector& b) { return CDHVector(a.x * b.x, a.y * b.y, a.z * b.z); }
inline CDHVector operator/(const CDHVector& a, const CDHVector& b) { return CDHVector(a.x / b.x, a.y / b.y, a.z / b.z); }
inline CDHVector operator*(const CDHVector& v, OrvFloat s) { return CDHVector(v.x * s, v.y * s, v.z * s); }
inline CDHVector operator*(OrvFloat s, const CDHVector& v) { return CDHVector(v.x * s, v.y * s, v.z * s); }
inline CDHVector operator/(const CDHVector& v, OrvFloat s) { return CDHVector(v.x / s, v.y / s, v.z / s); }
inline bool operator<(const CDHVector& a, const CDHVector& b) { return a.x < b.x && a.y < b.y && a.z < b.z; }
inline bool operator<=(const CDHVector& a, const CDHVector& b) { return a.x <= b.x && a.y <= b.y && a.z <= b.z; }
inline bool operator==(const CDHVector& a, const CDHVector& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
inline bool operator!=(const CDHVector& a, const CDHVector& b) { return !(a == b); }

inline OrvFloat Min(const CDHVector& v) {
  const OrvFloat m = v.x < v.y ? v.x : v.y;
  return m < v.z ? m : v.z;
}
inline OrvFloat Max(const CDHVector& v) {
  const OrvFloat m = v.x > v.y ? v.x : v.y;
  return m > v.z ? m : v.z;
}
inline CDHVector Minimize(const CDHVector& a, const CDHVector& b) {
  return CDHVector(a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, a.z < b.z ? a.z : b.z);
}
inline CDHVector Maximize(const CDHVector& a, const CDHVector& b) {
  return CDHVector(a.x > b.x ? a.x : b.x, a.y > b.y ? a.y : b.y, a.z > b.z ? a.z : b.z);
}
inline OrvFloat DotProduct(const CDHVector& a, const CDHVector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline CDHVector CrossProduct(const CDHVector& a, const CDHVector& b) {
  return CDHVector(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

class CDHMatrix {
 public:
  CDHMatrix() { Empty(); }
  CDHMatrix(const CDHMatrix&) = default;
  CDHMatrix& operator=(const CDHMatrix&) = default;

  void Empty() {
    for (OrvFloat& v : e) v = OrvFloat(0);
  }
  void Identity() {
    Empty();
    e[0] = e[4] = e[8] = OrvFloat(1);
  }
  // Nine values in order, row by row.
  void Load(const OrvFloat* values) {
    for (int i = 0; i < 9; ++i) e[i] = values[i];
  }
  void Load(const OrvFloatVar (*rows)[3]) {
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) e[3 * r + c] = rows[r][c];
  }

  OrvFloat e[9];
};

inline CDHMatrix operator*(const CDHMatrix& a, const CDHMatrix& b) {
  CDHMatrix r;
  for (int row = 0; row < 3; ++row)
    for (int c = 0; c < 3; ++c)
      r.e[3 * row + c] = a.e[3 * row] * b.e[c] + a.e[3 * row + 1] * b.e[3 + c] + a.e[3 * row + 2] * b.e[6 + c];
  return r;
}
inline CDHMatrix operator*(const CDHMatrix& m, OrvFloat s) {
  CDHMatrix r;
  for (int i = 0; i < 9; ++i) r.e[i] = m.e[i] * s;
  return r;
}
inline CDHMatrix operator*(OrvFloat s, const CDHMatrix& m) { return m * s; }
// Row vector times matrix: result[c] = sum over k of v[k] M.e[3k + c].
inline CDHVector operator*(const CDHVector& v, const CDHMatrix& m) {
  return CDHVector(v.x * m.e[0] + v.y * m.e[3] + v.z * m.e[6], v.x * m.e[1] + v.y * m.e[4] + v.z * m.e[7],
                   v.x * m.e[2] + v.y * m.e[5] + v.z * m.e[8]);
}
inline bool operator==(const CDHMatrix& a, const CDHMatrix& b) {
  for (int i = 0; i < 9; ++i)
    if (a.e[i] != b.e[i]) return false;
  return true;
}
