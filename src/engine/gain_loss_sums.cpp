// The coagulation sums: gain and loss of eight neighbouring nodes side by side, over the
// runs of gain terms that read occupied nodes, from the table kept by diagonals.

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <utility>

#include "coagulation/coagulation_rates.h"
#include "engine/fast_pass_kernels.h"
#include "engine/wide_vectors.h"

namespace aerosol {
namespace {

// Unpacking a term's place word.
constexpr int kTableBits = FastPassKernels::kTablePlaceBits;
constexpr int kNodeBits = FastPassKernels::kNodePlaceBits;
constexpr int kNodeShift = kTableBits;
constexpr int kSecondNodeShift = kTableBits + kNodeBits;
constexpr std::uint64_t kTablePlaceMask = (std::uint64_t{1} << kTableBits) - 1;
constexpr std::uint64_t kNodePlaceMask = (std::uint64_t{1} << kNodeBits) - 1;

// The gain sums of eight neighbouring nodes over their terms first..end-1, as two chains of
// four, going on from the partial sums in out: term t adds chi * beta[i][j] * N_i * N_j to
// each lane, formed left to right. A term's three places, those of lane 0, are packed into
// one word: beta's in diag (the low bits), N_i's and N_j's in padded above them; the
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
    const double* Ni = padded + ((places[first] >> kNodeShift) & kNodePlaceMask);
    for (int lane = 0; lane < 8; ++lane) ni[lane] = Ni[lane];
  }
  for (int lane = 0; lane < 4; ++lane) a[lane] = out[lane];
  for (int lane = 0; lane < 4; ++lane) b[lane] = out[4 + lane];
  for (std::int32_t t = first; t < end; ++t) {
    const std::uint64_t place = places[t];
    const double* B = diag + (place & kTablePlaceMask);
    const double* Ni = kSameI ? ni : padded + ((place >> kNodeShift) & kNodePlaceMask);
    const double* Nj = padded + (place >> kSecondNodeShift);
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

void FastPassKernels::prepareTerms() {
  const SplitOperator* split = split_;
  const int s = first_;
  const int n = n_;
  const auto c = static_cast<std::size_t>(capacity_);
  // Gain terms of each group of eight nodes: the union, in (a, b) order, of the pairs
  // (i, j) = (k + a, k + b) with a non-zero fraction at node k; for one node that order is
  // the dense sum's order of ascending i, then ascending j (j up to k only).
  groups_.clear();
  termPlaces_.clear();
  termOffsets_.clear();
  runsKey_ = {-1, -1};
  termSplit_.clear();
  if (split == nullptr) return;
  // One sweep over the pairs, each with the (at most two) nodes it feeds: the terms of
  // every group, and the highest node each pair feeds.
  using Terms = std::map<std::pair<int, int>, std::array<double, kGroup>>;
  std::vector<Terms> termsOf(static_cast<std::size_t>((n - s) / kGroup + 1));
  std::vector<int> highest(c * c, 0);
  for (int i = s; i <= n; ++i) {
    for (int j = s; j <= n; ++j) {
      int& high = highest[static_cast<std::size_t>(i) * c + static_cast<std::size_t>(j)];
      const int low = split->lowNode[split->pair(i, j)];
      for (int k = std::max(low, 1); k <= std::min(low + 1, n); ++k) {
        const double chi = split->at(i, j, k);
        if (chi == 0.0) continue;
        high = k;
        if (k < j) continue;  // node k's sum takes j up to k only
        const auto g = static_cast<std::size_t>((k - s) / kGroup);
        auto& slot =
            termsOf[g].try_emplace({i - k, j - k}, std::array<double, kGroup>{}).first->second;
        slot[static_cast<std::size_t>((k - s) % kGroup)] = chi;
      }
    }
  }
  for (int k0 = s; k0 <= n; k0 += kGroup) {
    const Terms& terms = termsOf[static_cast<std::size_t>((k0 - s) / kGroup)];
    Group group;
    group.firstNode = k0;
    group.firstTerm = static_cast<std::int32_t>(termPlaces_.size());
    for (const auto& [offsets, chis] : terms) {
      const int a = offsets.first;
      const int b = offsets.second;
      // Every place is non-negative and fits its bits (fast_pass_kernels.h).
      termPlaces_.push_back(static_cast<std::uint64_t>(entry(k0 + a, k0 + b)) |
                            static_cast<std::uint64_t>(k0 + a - xLow_) << kTablePlaceBits |
                            static_cast<std::uint64_t>(k0 + b - xLow_)
                                << (kTablePlaceBits + kNodePlaceBits));
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
    int reach = m > s ? reach_[m - 1] : s;
    for (int i = s; i <= m; ++i)
      reach = std::max({reach, highest[static_cast<std::size_t>(i) * c + m],
                        highest[static_cast<std::size_t>(m) * c + i]});
    reach_[m] = reach;
  }
}

void FastPassKernels::findTermRuns(int bottom, int top) {
  // A term (a, b) of the group k0..k0+7 reads N_i and N_j of i = k + a, j = k + b: all
  // zeros when either lies wholly below `bottom` or above `top`.
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
  if (split_ == nullptr)
    throw std::logic_error("FastPassKernels: coagulation() on a run prepared without a split "
                           "operator");
  requireStage(stage_ == Stage::kTableFilled, "coagulation()");
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
    double g[kGroup] = {};
    if (k0 <= fed && k0 + kGroup - 1 >= bottom) {
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
    double l[kGroup] = {};
    lossSums(diag_.data(), padded, static_cast<std::ptrdiff_t>(width_), offset(0), k0,
             std::max(group.lowOffset, bottom - (k0 + kGroup - 1)),
             std::min(group.highOffset, top - k0), l);
    for (int lane = 0; lane < kGroup && k0 + lane <= n; ++lane) {
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

}  // namespace aerosol
