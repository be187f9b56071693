// The vector and matrix math that the kernel's per-vertex path will use:
// 4 x 4 products, inverses and vector-matrix products per second, each next
// to a plain baseline on row-major float arrays (a triple loop for the
// products, Gauss-Jordan elimination with partial pivoting for the
// inverse).
#include <benchmark/benchmark.h>

#include <cmath>
#include <utility>

#include "xdriver/matrix.h"

namespace {

constexpr int kBatch = 256;

float Value(int i, int j) { return static_cast<float>(((i * 7 + j * 3) % 11) - 5) + (i == j ? 9 : 0); }

struct Inputs {
  Inputs() {
    for (int n = 0; n < kBatch; ++n) {
      float rows[16];
      for (int i = 0; i < 16; ++i) rows[i] = Value(n + i / 4, i % 4) * 0.25f;
      m[n].Load(rows);
      for (int i = 0; i < 16; ++i) plain[n][i] = rows[i];
      v[n] = Vector(static_cast<float>(n), 1.5f, -2.0f);
    }
  }
  Matrix m[kBatch];
  float plain[kBatch][16];
  Vector v[kBatch];
};

void BM_MatrixProduct(benchmark::State& state) {
  Inputs in;
  Matrix out[kBatch];
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) out[n] = in.m[n] * in.m[(n + 1) % kBatch];
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MatrixProduct);

void BM_BaselineProduct(benchmark::State& state) {
  Inputs in;
  static float out[kBatch][16];
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) {
      const float* a = in.plain[n];
      const float* b = in.plain[(n + 1) % kBatch];
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
          float sum = 0;
          for (int k = 0; k < 4; ++k) sum += a[4 * i + k] * b[4 * k + j];
          out[n][4 * i + j] = sum;
        }
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BaselineProduct);

void BM_MatrixInverse(benchmark::State& state) {
  Inputs in;
  Matrix out[kBatch];
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) out[n] = in.m[n].Inverse();
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MatrixInverse);

void BM_BaselineInverse(benchmark::State& state) {
  Inputs in;
  static float out[kBatch][16];
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) {
      float a[4][8];
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
          a[i][j] = in.plain[n][4 * i + j];
          a[i][4 + j] = i == j ? 1.0f : 0.0f;
        }
      for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
          if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        for (int k = 0; k < 8; ++k) std::swap(a[c][k], a[pivot][k]);
        const float f = 1.0f / a[c][c];
        for (int k = 0; k < 8; ++k) a[c][k] *= f;
        for (int r = 0; r < 4; ++r) {
          if (r == c) continue;
          const float g = a[r][c];
          for (int k = 0; k < 8; ++k) a[r][k] -= g * a[c][k];
        }
      }
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[n][4 * i + j] = a[i][4 + j];
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BaselineInverse);

void BM_VectorTimesMatrix(benchmark::State& state) {
  Inputs in;
  HomogenVector out[kBatch];
  const Matrix m = in.m[3];
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) out[n] = in.v[n] * m;
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_VectorTimesMatrix);

void BM_BaselineVectorTimesMatrix(benchmark::State& state) {
  Inputs in;
  static float out[kBatch][4];
  const float* m = in.plain[3];
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) {
      const float v[4] = {in.v[n].x, in.v[n].y, in.v[n].z, 1};
      for (int j = 0; j < 4; ++j) {
        float sum = 0;
        for (int k = 0; k < 4; ++k) sum += v[k] * m[4 * k + j];
        out[n][j] = sum;
      }
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BaselineVectorTimesMatrix);

}  // namespace
