// The Fuchs table: per-node quantities at each fill, then the pair entries, four neighbouring
// pairs at a time along the diagonals; in processes 2 and 3 only the pairs of occupied nodes,
// formed as the sums ask for them.

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "engine/fast_pass_kernels.h"
#include "engine/library_powers.h"
#include "engine/wide_vectors.h"

#if defined(__x86_64__)
#include <immintrin.h>  // the 256-bit Fuchs pairs, chosen at run time
#endif

namespace aerosol {
namespace {

// Fuchs entries of the pairs (x, x - d) of nodes low..high not yet formed, those with
// x > done, on every diagonal d, four neighbouring x at a time; `origin` is where diagonal 0
// keeps x = 0. The last one to three entries of a diagonal are left in `rest` as (x, d) for
// fuchsRest; returns how many. Counts the entries formed that are not finite.
AEROSOL_WIDE_VECTORS
int fuchsTriangle(double* __restrict diag, std::ptrdiff_t origin, std::ptrdiff_t stride,
                  const double* __restrict dia, const double* __restrict D,
                  const double* __restrict c2, const double* __restrict g2, int low, int high,
                  int done, int* __restrict rest, int& notFinite) {
  int rests = 0;
  for (int d = 0; d <= high - low; ++d) {
    double* out = diag + origin + d * stride;
    int x = std::max(low + d, done + 1);
    for (; x + 3 <= high; x += 4) {
      const int j = x - d;
      double value[4];
      for (int lane = 0; lane < 4; ++lane)
        value[lane] =
            fuchsPairFromSquares(dia[x + lane], D[x + lane], c2[x + lane], g2[x + lane],
                                 dia[j + lane], D[j + lane], c2[j + lane], g2[j + lane]);
      for (int lane = 0; lane < 4; ++lane) {
        out[x + lane] = value[lane];
        notFinite += !(std::fabs(value[lane]) <= DBL_MAX);
      }
    }
    for (; x <= high; ++x) {
      rest[2 * rests] = x;
      rest[2 * rests + 1] = d;
      ++rests;
    }
  }
  return rests;
}

// The entries left by fuchsTriangle, one by one, or four at a time from gathered lanes
// where the machine has 256-bit vectors. Counts those that are not finite.
void fuchsRestOneByOne(double* __restrict diag, std::ptrdiff_t origin, std::ptrdiff_t stride,
                       const double* __restrict dia, const double* __restrict D,
                       const double* __restrict c2, const double* __restrict g2,
                       const int* __restrict rest, int first, int rests, int& notFinite) {
  for (int m = first; m < rests; ++m) {
    const int x = rest[2 * m];
    const int d = rest[2 * m + 1];
    const int j = x - d;
    const double value =
        fuchsPairFromSquares(dia[x], D[x], c2[x], g2[x], dia[j], D[j], c2[j], g2[j]);
    diag[origin + d * stride + x] = value;
    notFinite += !(std::fabs(value) <= DBL_MAX);
  }
}

#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2"))) inline __m256d at(const double* q, int a, int b, int c, int e) {
  return _mm256_set_pd(q[e], q[c], q[b], q[a]);
}

// fuchsPairFromSquares on four gathered pairs, operation for operation.
__attribute__((target("avx2"))) void fuchsRestFours(
    double* __restrict diag, std::ptrdiff_t origin, std::ptrdiff_t stride,
    const double* __restrict dia, const double* __restrict D, const double* __restrict c2,
    const double* __restrict g2, const int* __restrict rest, int rests, int& notFinite) {
  int m = 0;
  for (; m + 3 < rests; m += 4) {
    const int* r = rest + 2 * m;
    const int x0 = r[0], x1 = r[2], x2 = r[4], x3 = r[6];
    const int j0 = x0 - r[1], j1 = x1 - r[3], j2 = x2 - r[5], j3 = x3 - r[7];
    const __m256d dSum = _mm256_add_pd(at(dia, x0, x1, x2, x3), at(dia, j0, j1, j2, j3));
    const __m256d dCoef = _mm256_add_pd(at(D, x0, x1, x2, x3), at(D, j0, j1, j2, j3));
    const __m256d gRoot =
        _mm256_sqrt_pd(_mm256_add_pd(at(g2, x0, x1, x2, x3), at(g2, j0, j1, j2, j3)));
    const __m256d cRoot =
        _mm256_sqrt_pd(_mm256_add_pd(at(c2, x0, x1, x2, x3), at(c2, j0, j1, j2, j3)));
    const __m256d numerator =
        _mm256_mul_pd(_mm256_mul_pd(dCoef, dSum), _mm256_set1_pd(kTwoPi));
    const __m256d free = _mm256_div_pd(
        dSum, _mm256_add_pd(dSum, _mm256_mul_pd(_mm256_set1_pd(2.0), gRoot)));
    const __m256d diffusive = _mm256_div_pd(_mm256_mul_pd(_mm256_set1_pd(8.0), dCoef),
                                            _mm256_mul_pd(dSum, cRoot));
    double value[4];
    _mm256_storeu_pd(value, _mm256_div_pd(numerator, _mm256_add_pd(free, diffusive)));
    for (int lane = 0; lane < 4; ++lane) {
      diag[origin + r[2 * lane + 1] * stride + r[2 * lane]] = value[lane];
      notFinite += !(std::fabs(value[lane]) <= DBL_MAX);
    }
  }
  fuchsRestOneByOne(diag, origin, stride, dia, D, c2, g2, rest, m, rests, notFinite);
}
#endif

void fuchsRest(double* __restrict diag, std::ptrdiff_t origin, std::ptrdiff_t stride,
               const double* __restrict dia, const double* __restrict D,
               const double* __restrict c2, const double* __restrict g2,
               const int* __restrict rest, int rests, int& notFinite) {
#if defined(__GNUC__) && defined(__x86_64__)
  static const bool wide = __builtin_cpu_supports("avx2");
  if (wide) {
    fuchsRestFours(diag, origin, stride, dia, D, c2, g2, rest, rests, notFinite);
    return;
  }
#endif
  fuchsRestOneByOne(diag, origin, stride, dia, D, c2, g2, rest, 0, rests, notFinite);
}

// How many of nodes 1..n have a diameter, diffusion coefficient, speed or particle mean free
// path outside 1e-50..1e50; and the largest diameter and speed, which are those of the
// largest bit patterns while every value is positive.
AEROSOL_WIDE_VECTORS
int fuchsBounds(const double* __restrict d, const double* __restrict D,
                const double* __restrict c, const double* __restrict l, int n,
                double& largestDiameter, double& largestSpeed) {
  auto outside = [](double x) { return static_cast<int>(!((x >= 1e-50) & (x <= 1e50))); };
  int count = 0;
  std::int64_t diameterBits = 0;
  std::int64_t speedBits = 0;
  for (int k = 1; k <= n; ++k) {
    count += outside(d[k]) + outside(D[k]) + outside(c[k]) + outside(l[k]);
    diameterBits = std::max(diameterBits, std::bit_cast<std::int64_t>(d[k]));
    speedBits = std::max(speedBits, std::bit_cast<std::int64_t>(c[k]));
  }
  largestDiameter = std::bit_cast<double>(diameterBits);
  largestSpeed = std::bit_cast<double>(speedBits);
  return count;
}

// Diffusion coefficient, squared thermal speed, speed and particle mean free path of nodes
// 1..n at one temperature, node by node.
AEROSOL_WIDE_VECTORS
void fuchsMobilities(double T, CarrierGas gas, const double* __restrict dia,
                     const double* __restrict mass, int n, double* __restrict D,
                     double* __restrict c2, double* __restrict c, double* __restrict path) {
  for (int k = 1; k <= n; ++k) {
    const FuchsMobility p = fuchsMobility(T, gas, dia[k], mass[k]);
    D[k] = p.diffusion;
    c2[k] = p.speed * p.speed;
    c[k] = p.speed;
    path[k] = p.meanFreePath;
  }
}

}  // namespace

AEROSOL_WIDE_VECTORS
void fuchsRow(double* __restrict out, const double* __restrict dia, const double* __restrict D,
              const double* __restrict c2, const double* __restrict g2, int r, int from,
              int to) {
  for (int j = from; j <= to; ++j)
    out[j] = fuchsPairFromSquares(dia[j], D[j], c2[j], g2[j], dia[r], D[r], c2[r], g2[r]);
}

void FastPassKernels::prepareFuchs() {
  const auto c = static_cast<std::size_t>(capacity_);
  pairDiameter_.assign(c, 0.0);
  diffusion_.assign(c, 0.0);
  speed_.assign(c, 0.0);
  speedSquared_.assign(c, 0.0);
  transitionSquared_.assign(c, 0.0);
  particlePath_.assign(c, 0.0);
  transitionDone_.assign(c, 0);
  transitionScratch_.assign(2 * c, 0.0);
  // Up to three entries left over on each diagonal, two ints each.
  triangleRest_.assign(6 * c, 0);
}

void FastPassKernels::fuchsNodes(double T) {
  gas_ = carrierGas(T, setup_.collision.gas);
  // The diameters as the grid holds them at this fill (growth writes them too).
  std::copy_n(grid_->diameter.data() + 1, n_, pairDiameter_.data() + 1);
  fuchsMobilities(T, gas_, pairDiameter_.data(), grid_->mass.data(), n_, diffusion_.data(),
                  speedSquared_.data(), speed_.data(), particlePath_.data());
  for (int k = 1; k <= n_; ++k) transitionDone_[static_cast<std::size_t>(k)] = 0;
}

void FastPassKernels::fillFuchs(double T) {
  fuchsNodes(T);
  ensureTransitions(1, n_);
  tableFinite_ = fuchsDiagonals(1, n_, 0);
}

bool FastPassKernels::fuchsDiagonals(int low, int high, int done) {
  int notFinite = 0;
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width_);
  const int rests = fuchsTriangle(diag_.data(), offset(0), stride, pairDiameter_.data(),
                                  diffusion_.data(), speedSquared_.data(),
                                  transitionSquared_.data(), low, high, done,
                                  triangleRest_.data(), notFinite);
  fuchsRest(diag_.data(), offset(0), stride, pairDiameter_.data(), diffusion_.data(),
            speedSquared_.data(), transitionSquared_.data(), triangleRest_.data(), rests,
            notFinite);
  return notFinite == 0;
}

void FastPassKernels::startFuchsOnDemand(double T, CollisionKernel& kernel) {
  onDemand_ = true;
  fillTemperature_ = T;
  fuchsNodes(T);
  // The bounds that make every entry finite.
  double largestDiameter = 0.0;
  double largestSpeed = 0.0;
  boundsHold_ = fuchsBounds(pairDiameter_.data(), diffusion_.data(), speed_.data(),
                            particlePath_.data(), n_, largestDiameter, largestSpeed) == 0;
  // beta < num / Y = (2 pi / 8) (d_i + d_j)^2 sqrt(c_i^2 + c_j^2), with room for rounding.
  largestEntry_ = 0.7853982 * (4.0 * largestDiameter * largestDiameter) *
                  (1.4142136 * largestSpeed) * 1.001;
  pairsFrom_ = first_;
  pairsTop_ = first_ - 1;
  tableFinite_ = boundsHold_;
  pendingRow_ = &kernel;
}

void FastPassKernels::ensureTransitions(int from, int to) {
  fuchsTransitionSquares(pairDiameter_.data(), particlePath_.data(), transitionDone_.data(),
                         transitionSquared_.data(), transitionScratch_.data(), from, to);
}

void FastPassKernels::fillFuchsPairs(int from, int top) {
  // The pairs of nodes from..top; those of pairsFrom_..pairsTop_ are there already. The
  // region grows upwards by its new rows; one that must grow downwards is made anew.
  if (from > top) return;
  const bool none = pairsTop_ < pairsFrom_;
  if (!none && from >= pairsFrom_ && top <= pairsTop_) return;
  const bool anew = none || from < pairsFrom_;
  const int low = anew ? from : pairsFrom_;
  const int done = anew ? low - 1 : pairsTop_;
  ensureTransitions(low, top);
  const bool finite = fuchsDiagonals(low, top, done);
  pairsFrom_ = low;
  pairsTop_ = top;
  tableFinite_ = tableFinite_ && finite;
}

void FastPassKernels::completeFill() {
  if (!onDemand_) return;
  fillFuchs(fillTemperature_);
  if (pendingRow_ != nullptr) writeMonomerRow(*pendingRow_);
  pendingRow_ = nullptr;
  onDemand_ = false;
}

void FastPassKernels::fillFuchsMonomerRow(const std::vector<double>& N) {
  if (pendingRow_ == nullptr) return;
  if (!boundsHold_) {
    completeFill();
    return;
  }
  // beta(1, k) only ever enters multiplied by N_k, so an empty node's entry may be any finite
  // number (0 here) while the bounds hold. The occupied nodes bottom..top; the coagulation
  // sums need their pairs too.
  int bottom = n_ + 1;
  int top = 1;
  for (int k = 2; k <= n_; ++k) {
    if (N[k] == 0.0) continue;
    top = k;
    bottom = std::min(bottom, k);
  }
  fillFuchsPairs(bottom, top);
  ensureTransitions(1, 1);
  double* row = &pendingRow_->at(1, 0);
  std::fill(row + 1, row + n_ + 1, 0.0);
  fuchsRow(row, pairDiameter_.data(), diffusion_.data(), speedSquared_.data(),
           transitionSquared_.data(), 1, 1, 1);
  fuchsRow(row, pairDiameter_.data(), diffusion_.data(), speedSquared_.data(),
           transitionSquared_.data(), 1, bottom, top);
  pendingRow_ = nullptr;
}

}  // namespace aerosol

