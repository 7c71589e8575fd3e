#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <map>
#include <utility>

#include "coagulation/coagulation_rates.h"
#include "engine/pass_kernels.h"
#include "engine/library_powers.h"

#if defined(__x86_64__)
#include <immintrin.h>  // the 256-bit Fuchs pairs, chosen at run time
#endif

namespace aerosol {
namespace {

// Where the machine has them, the element-wise loops below also get a build with 256-bit
// vectors, chosen at run time; element-wise arithmetic gives the same values either way.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define AEROSOL_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define AEROSOL_WIDE_VECTORS
#endif

// Every diagonal d = 0..n-1 of a table kept by diagonals: out[x] = (factor * a[x]) * b[x]
// over the nodes x = 1 + d..n; element by element, so it vectorises without changing any
// value. `origin` is where diagonal 0's x = 0 sits. Returns how many entries are not finite.
AEROSOL_WIDE_VECTORS
int scaleDiagonals(double* __restrict out, const double* __restrict a,
                   const double* __restrict b, double factor, std::ptrdiff_t origin,
                   std::ptrdiff_t stride, int n) {
  int notFinite = 0;
  for (int d = 0; d <= n - 1; ++d) {
    const std::ptrdiff_t row = origin + d * stride;
    for (int x = 1 + d; x <= n; ++x) {
      const double value = factor * a[row + x] * b[row + x];
      out[row + x] = value;
      notFinite += !(std::fabs(value) <= DBL_MAX);
    }
  }
  return notFinite;
}

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
        _mm256_mul_pd(_mm256_mul_pd(dCoef, dSum), _mm256_set1_pd(6.2831852));
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

// Fuchs entries of node r with the nodes from..to: out[j] = beta[j][r].
AEROSOL_WIDE_VECTORS
void fuchsRow(double* __restrict out, const double* __restrict dia, const double* __restrict D,
              const double* __restrict c2, const double* __restrict g2, int r, int from,
              int to) {
  for (int j = from; j <= to; ++j)
    out[j] = fuchsPairFromSquares(dia[j], D[j], c2[j], g2[j], dia[r], D[r], c2[r], g2[r]);
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

// The gain sums of eight neighbouring nodes over their terms first..end-1, as two chains of
// four, going on from the partial sums in out: term t adds chi * beta[i][j] * N_i * N_j to
// each lane, formed left to right. A term's three places, those of lane 0, are packed into
// one word: beta's in diag (low 32 bits), N_i's and N_j's in padded (16 bits each); the
// eight lanes read on from there. With kSameI every term reads the same N_i (one value of
// a), and those eight values are read once.
template <bool kSameI>
[[gnu::always_inline]] inline void gainSumsOver(const double* __restrict diag,
                                                const double* __restrict padded,
                                                const std::uint64_t* __restrict places,
                                                const double* __restrict chi, std::int32_t first,
                                                std::int32_t end, double* __restrict out) {
  double a[4];
  double b[4];
  double ni[8];
  if constexpr (kSameI) {
    const double* Ni = padded + ((places[first] >> 32) & 0xffffU);
    for (int lane = 0; lane < 8; ++lane) ni[lane] = Ni[lane];
  }
  for (int lane = 0; lane < 4; ++lane) a[lane] = out[lane];
  for (int lane = 0; lane < 4; ++lane) b[lane] = out[4 + lane];
  for (std::int32_t t = first; t < end; ++t) {
    const std::uint64_t place = places[t];
    const double* B = diag + (place & 0xffffffffU);
    const double* Ni = kSameI ? ni : padded + ((place >> 32) & 0xffffU);
    const double* Nj = padded + (place >> 48);
    const double* f = chi + 8 * static_cast<std::ptrdiff_t>(t);
    for (int lane = 0; lane < 4; ++lane)
      a[lane] = a[lane] + f[lane] * B[lane] * Ni[lane] * Nj[lane];
    for (int lane = 0; lane < 4; ++lane)
      b[lane] = b[lane] + f[4 + lane] * B[4 + lane] * Ni[4 + lane] * Nj[4 + lane];
  }
  for (int lane = 0; lane < 4; ++lane) out[lane] = a[lane];
  for (int lane = 0; lane < 4; ++lane) out[4 + lane] = b[lane];
}

AEROSOL_WIDE_VECTORS
void gainSums(const double* __restrict diag, const double* __restrict padded,
              const std::uint64_t* __restrict places, const double* __restrict chi,
              std::int32_t first, std::int32_t end, double* __restrict out) {
  gainSumsOver<false>(diag, padded, places, chi, first, end, out);
}

AEROSOL_WIDE_VECTORS
void gainSumsSameI(const double* __restrict diag, const double* __restrict padded,
                   const std::uint64_t* __restrict places, const double* __restrict chi,
                   std::int32_t first, std::int32_t end, double* __restrict out) {
  gainSumsOver<true>(diag, padded, places, chi, first, end, out);
}

// The loss sums of eight neighbouring nodes k0..k0+7: beta[k][k + a] N_{k+a} over
// ascending a, as two chains of four. Only the diagonals at or below the main one are kept:
// beta[k][k + a] stands on diagonal |a|, at x = k for a <= 0 and at x = k + a above.
AEROSOL_WIDE_VECTORS
void lossSums(const double* __restrict diag, const double* __restrict padded,
              std::ptrdiff_t diagonalStride, std::ptrdiff_t firstDiagonal, int k0, int low,
              int high, double* __restrict out) {
  double a[4] = {0.0, 0.0, 0.0, 0.0};
  double b[4] = {0.0, 0.0, 0.0, 0.0};
  for (int offset = low; offset <= high; ++offset) {
    const double* B = diag + firstDiagonal +
                      (offset <= 0 ? -offset * diagonalStride : offset * diagonalStride + offset) +
                      k0;
    const double* Ni = padded + (k0 + offset);
    for (int lane = 0; lane < 4; ++lane) a[lane] = a[lane] + B[lane] * Ni[lane];
    for (int lane = 0; lane < 4; ++lane) b[lane] = b[lane] + B[4 + lane] * Ni[4 + lane];
  }
  for (int lane = 0; lane < 4; ++lane) out[lane] = a[lane];
  for (int lane = 0; lane < 4; ++lane) out[4 + lane] = b[lane];
}

}  // namespace

void FastPassKernels::prepare(const RunSettings& settings, const NodeGrid& grid,
                              const SplitOperator* split, int n, int s) {
  settings_ = settings;
  grid_ = &grid;
  split_ = split;
  n_ = n;
  first_ = s;
  capacity_ = grid.capacity;
  filled_ = false;
  const std::vector<double>& v = grid.volume;
  const auto c = static_cast<std::size_t>(capacity_);

  // Diagonals 0..n + 16 (the table is symmetric to the bit, so those at or below the main
  // one hold it all), each over x = 2s - n - 16 .. 2n + 32: wide enough for every index the
  // side-by-side sums form, in any lane of any pair of groups.
  xLow_ = 2 * s - n - 16;
  width_ = static_cast<std::size_t>(2 * n + 32 - xLow_ + 1);
  const std::size_t diagonals = static_cast<std::size_t>(n + 17);
  diag_.assign(diagonals * width_, 0.0);
  rootDiag_.assign(diagonals * width_, 0.0);
  squareDiag_.assign(diagonals * width_, 0.0);
  paddedN_.assign(width_, 0.0);
  shapeFactor_ = std::pow(3.0 / 12.5663704, 0.1666666);
  for (int d = 0; d <= n - 1; ++d) {
    const std::size_t row = static_cast<std::size_t>(d) * width_;
    for (int x = 1 + d; x <= n; ++x) {
      const int j = x - d;
      const std::size_t at = row + static_cast<std::size_t>(x - xLow_);
      rootDiag_[at] = std::pow(1 / v[x] + 1 / v[j], 0.5);
      squareDiag_[at] = std::pow(std::pow(v[x], 0.333333) + std::pow(v[j], 0.333333), 2.0);
    }
  }
  pairDiameter_.assign(c, 0.0);
  diffusion_.assign(c, 0.0);
  speed_.assign(c, 0.0);
  speedSquared_.assign(c, 0.0);
  transitionSquared_.assign(c, 0.0);
  particlePath_.assign(c, 0.0);
  transitionDone_.assign(c, 0);
  transitionScratch_.assign(2 * c, 0.0);
  triangleRest_.assign(6 * c, 0);
  onDemand_ = false;
  pendingRow_ = nullptr;
  scratch_ = makeCollisionKernel(capacity_);

  growthDiameter_.assign(c, 0.0);
  for (int k = 1; k <= n; ++k) growthDiameter_[k] = growthDiameter(v[k]);
  growthShare_.assign(c, 0.0);
  for (int k = 2; k <= n; ++k) growthShare_[k] = growthShare(v, k);

  // Gain terms of each group of eight nodes: the union, in (a, b) order, of the pairs
  // (i, j) = (k + a, k + b) with a non-zero fraction at node k; for one node that order is
  // the dense sum's order of ascending i, then ascending j (j up to k only).
  groups_.clear();
  termPlaces_.clear();
  termOffsets_.clear();
  runsKey_ = {-1, -1};
  termSplit_.clear();
  if (split == nullptr) return;
  constexpr int kGroup = 2 * kLanes;
  for (int k0 = s; k0 <= n; k0 += kGroup) {
    std::map<std::pair<int, int>, std::array<double, kGroup>> terms;
    for (int lane = 0; lane < kGroup; ++lane) {
      const int k = k0 + lane;
      if (k > n) break;
      for (int i = s; i <= n; ++i) {
        for (int j = s; j <= k; ++j) {
          const double chi = split->at(i, j, k);
          if (chi == 0.0) continue;
          auto& slot =
              terms.try_emplace({i - k, j - k}, std::array<double, kGroup>{}).first->second;
          slot[static_cast<std::size_t>(lane)] = chi;
        }
      }
    }
    Group group;
    group.firstNode = k0;
    group.firstTerm = static_cast<std::int32_t>(termPlaces_.size());
    for (const auto& [offsets, chis] : terms) {
      const int a = offsets.first;
      const int b = offsets.second;
      termPlaces_.push_back(static_cast<std::uint64_t>(entry(k0 + a, k0 + b)) |
                            static_cast<std::uint64_t>(k0 + a - xLow_) << 32 |
                            static_cast<std::uint64_t>(k0 + b - xLow_) << 48);
      for (double chi : chis) termSplit_.push_back(chi);
      termOffsets_.push_back({a, b});
    }
    group.endTerm = static_cast<std::int32_t>(termPlaces_.size());
    group.lowOffset = s - (k0 + kGroup - 1);
    group.highOffset = n - k0;
    groups_.push_back(group);
  }
  // Room for every run of terms, so that finding them allocates nothing.
  termRuns_.reserve(termPlaces_.size());
  runStart_.reserve(groups_.size() + 1);
  // A term's eight fractions fill one 64-byte cache line.
  std::vector<double> fractions(termSplit_.size() + kGroup, 0.0);
  const auto at = reinterpret_cast<std::uintptr_t>(fractions.data());
  splitStart_ = ((64 - at % 64) % 64) / sizeof(double);
  std::copy(termSplit_.begin(), termSplit_.end(), fractions.begin() + splitStart_);
  termSplit_ = std::move(fractions);
  // reach_[m]: the highest node that a pair of nodes up to m feeds; every node above it gains
  // nothing while the nodes above m are empty.
  reach_.assign(c, 0);
  for (int m = s; m <= n; ++m) {
    reach_[m] = m > s ? reach_[m - 1] : s;
    for (int k = reach_[m]; k <= n; ++k)
      for (int i = s; i <= m; ++i)
        if (split->at(i, m, k) != 0.0 || split->at(m, i, k) != 0.0)
          reach_[m] = std::max(reach_[m], k);
  }
}

void FastPassKernels::fillFreeMolecular(double T) {
  const double factor = std::pow(T * 6.0 * 1.38e-23 / settings_.density, 0.5) * shapeFactor_;
  tableFinite_ = scaleDiagonals(diag_.data(), rootDiag_.data(), squareDiag_.data(), factor,
                                offset(0), static_cast<std::ptrdiff_t>(width_), n_) == 0;
}

void FastPassKernels::fuchsNodes(double T) {
  gas_ = carrierGas(T, settings_);
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
  if (pendingRow_ != nullptr)
    for (int j = 1; j <= n_; ++j)
      pendingRow_->at(1, j) = diag_[static_cast<std::size_t>(entry(1, j))];
  pendingRow_ = nullptr;
  onDemand_ = false;
}

void FastPassKernels::writeFullTable(CollisionKernel& kernel) {
  completeFill();
  for (int i = 1; i <= n_; ++i)
    for (int j = 1; j <= n_; ++j) kernel.at(i, j) = diag_[static_cast<std::size_t>(entry(i, j))];
}

double FastPassKernels::fillKernel(double T, CollisionKernel& kernel) {
  const int cf = settings_.collisionFunction;
  if (cf != 1 && cf != 2) return 1e-9;  // nothing is written
  onDemand_ = false;
  pendingRow_ = nullptr;
  if (first_ != 1) {
    if (cf == 2) {
      startFuchsOnDemand(T, kernel);
      return 1e-9;
    }
    fillFreeMolecular(T);
    // Row 1 feeds the growth operator.
    for (int j = 1; j <= n_; ++j) kernel.at(1, j) = diag_[static_cast<std::size_t>(entry(1, j))];
    return 1e-9;
  }
  // Process 1 (first coagulating node 1): the temperature never changes, so every fill
  // gives the same table; keep the last one, and its smallest entry, which sizes the step.
  if (filled_ && filledTable_ == &kernel && T == filledTemperature_) return filledSmallest_;
  if (cf == 1)
    fillFreeMolecular(T);
  else
    fillFuchs(T);
  filled_ = true;
  filledTable_ = &kernel;
  filledTemperature_ = T;
  filledSmallest_ = 1e-9;
  // Searched in the order of the dense fill, so ties of signed zeros resolve the same way.
  writeFullTable(kernel);
  for (int i = 1; i <= n_; ++i)
    for (int j = 1; j <= n_; ++j)
      if (kernel.at(i, j) < filledSmallest_) filledSmallest_ = kernel.at(i, j);
  return filledSmallest_;
}

void FastPassKernels::fillMonomerRow(double T, CollisionKernel& kernel) {
  filled_ = false;
  onDemand_ = false;
  pendingRow_ = nullptr;
  const double factor = std::pow(T * 6.0 * 1.38e-23 / settings_.density, 0.5) * shapeFactor_;
  for (int j = 1; j <= n_; ++j) {
    const auto at = static_cast<std::size_t>(entry(1, j));
    kernel.at(1, j) = factor * rootDiag_[at] * squareDiag_[at];
  }
}

void FastPassKernels::findTermRuns(int bottom, int top) {
  // A term (a, b) of the group k0..k0+7 reads N_i and N_j of i = k + a, j = k + b: all
  // zeros when either lies wholly below `bottom` or above `top`.
  constexpr int kGroup = 2 * kLanes;
  termRuns_.clear();
  runStart_.assign(groups_.size() + 1, 0);
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    const Group& group = groups_[g];
    const int k0 = group.firstNode;
    auto reads = [&](std::int32_t t) {
      const auto [a, b] = termOffsets_[static_cast<std::size_t>(t)];
      auto occupied = [&](int offset) {
        return k0 + kGroup - 1 + offset >= bottom && k0 + offset <= top;
      };
      return occupied(a) && occupied(b);
    };
    auto a = [&](std::int32_t t) { return termOffsets_[static_cast<std::size_t>(t)].first; };
    runStart_[g] = termRuns_.size();
    std::int32_t t = group.firstTerm;
    while (t < group.endTerm) {
      if (!reads(t)) {
        ++t;
        continue;
      }
      // A stretch of terms to add, cut into runs: four or more of one a (their N_i is the
      // same), and the others.
      const std::int32_t first = t;
      while (t < group.endTerm && reads(t)) ++t;
      std::int32_t u = first;
      std::int32_t mixed = first;
      while (u < t) {
        std::int32_t v = u;
        while (v < t && a(v) == a(u)) ++v;
        if (v - u >= 4) {
          if (mixed < u) termRuns_.push_back({mixed, u, false});
          termRuns_.push_back({u, v, true});
          mixed = v;
        }
        u = v;
      }
      if (mixed < t) termRuns_.push_back({mixed, t, false});
    }
  }
  runStart_[groups_.size()] = termRuns_.size();
  runsKey_ = {bottom, top};
}

void FastPassKernels::coagulation(const std::vector<double>& N, const CollisionKernel& kernel,
                                  std::vector<double>& gain, std::vector<double>& loss) {
  const int s = first_;
  const int n = n_;
  double* padded = paddedN_.data() - xLow_;
  // The lowest and the highest occupied node: terms of empty nodes are zeros and need not
  // be added.
  int bottom = n + 1;
  int top = s - 1;
  bool finite = tableFinite_;
  double total = 0.0;
  for (int k = s; k <= n; ++k) {
    padded[k] = N[k];
    if (N[k] != 0.0) {
      top = k;
      bottom = std::min(bottom, k);
    }
    finite = finite && std::isfinite(N[k]);
    total = total + std::fabs(N[k]);
  }
  if (onDemand_) {
    // Every loss sum of the dense form stays finite below this bound; then the empty nodes'
    // losses need not be formed, nor the table entries that only they would read.
    finite = finite && boundsHold_ && largestEntry_ * total < DBL_MAX / 4;
    if (finite) fillFuchsPairs(bottom, top);
    finite = finite && tableFinite_;
  }
  if (!finite) {
    denseSums(N, gain, loss);
    return;
  }
  const int fed = top >= s ? reach_[top] : s - 1;

  for (const Group& group : groups_) {
    const int k0 = group.firstNode;
    // Gain: four nodes' sums side by side, each over its pairs in the dense order. A term
    // of fraction 0, or of an empty node, is 0 * beta * N_i * N_j, a signed zero while every
    // factor is finite, and adding a zero to a sum that started at +0 leaves its bits
    // unchanged; nodes above `fed` have nothing but such terms.
    // Likewise a term whose N_i or N_j is that of a node below the lowest or above the
    // highest occupied one in every lane: the runs of the other terms are kept while those
    // two nodes stay the same.
    double g[2 * kLanes] = {};
    if (k0 <= fed && k0 + 2 * kLanes - 1 >= bottom) {
      if (runsKey_ != std::pair<int, int>{bottom, top}) findTermRuns(bottom, top);
      const auto at = static_cast<std::size_t>(&group - groups_.data());
      for (std::size_t r = runStart_[at]; r < runStart_[at + 1]; ++r) {
        const TermRun& run = termRuns_[r];
        (run.sameI ? gainSumsSameI : gainSums)(diag_.data(), paddedN_.data(),
                                               termPlaces_.data(),
                                               termSplit_.data() + splitStart_, run.first,
                                               run.end, g);
      }
    }
    // Loss: beta[k][i] N_i over ascending i = k + a, from the lowest to the highest occupied
    // node (the other terms are zeros too).
    double l[2 * kLanes] = {};
    lossSums(diag_.data(), padded, static_cast<std::ptrdiff_t>(width_), offset(0), k0,
             std::max(group.lowOffset, bottom - (k0 + 2 * kLanes - 1)),
             std::min(group.highOffset, top - k0), l);
    for (int lane = 0; lane < 2 * kLanes && k0 + lane <= n; ++lane) {
      const int k = k0 + lane;
      gain[k] = g[lane];
      const bool empty = onDemand_ && N[k] == 0.0;
      loss[k] = empty ? 0.0 : l[lane];
      finite = finite && std::isfinite(g[lane]) && std::isfinite(loss[k]);
    }
  }
  // A sum that came out not finite may have met a not-a-number where the dense form meets
  // one too, or an entry not yet formed: then only the dense sums give the same bits.
  if (!finite) denseSums(N, gain, loss);
  (void)kernel;
}

void FastPassKernels::denseSums(const std::vector<double>& N, std::vector<double>& gain,
                                std::vector<double>& loss) {
  writeFullTable(scratch_);
  coagulationRates(N, *split_, scratch_, n_, first_, gain, loss);
}

void FastPassKernels::growth(const GrowthInputs& in, std::vector<double>& diameter,
                             std::vector<double>& kelvinConcentration, GrowthRates& rates) {
  // The Fuchs monomer row on demand: beta(1, k) only ever enters multiplied by N_k, so an
  // empty node's entry may be any finite number (0 here) while the bounds hold.
  if (pendingRow_ != nullptr) {
    if (boundsHold_) {
      // The occupied nodes bottom..top; the coagulation sums need their pairs too.
      const std::vector<double>& N = *in.concentration;
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
    } else {
      completeFill();
    }
  }
  // The node diameters depend on the grid alone.
  for (int k = 1; k <= in.nodeCount; ++k) diameter[k] = growthDiameter_[k];
  computeGrowthRatesFromShares(in, growthDiameter_, growthShare_, kelvinConcentration, rates);
}

}  // namespace aerosol
