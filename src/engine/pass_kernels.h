#pragma once
// The work of one time step that dominates a run: filling the collision table, the
// coagulation sums and the growth rates. Drivers call it through this interface so that the
// cached, sparse forms used by the program and the straightforward forms kept as a
// reference produce the same numbers through the same driver code.

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "growth/growth.h"
#include "setup/run_settings.h"

namespace aerosol {

class PassKernels {
 public:
  virtual ~PassKernels() = default;
  // Once per run, after the grid (and the split operator, where the process coagulates) are
  // built and before the first step. `split` may be null; s is the first coagulating node.
  virtual void prepare(const RunSettings& settings, const NodeGrid& grid,
                       const SplitOperator* split, int nodeCount, int firstCoagulatingNode) = 0;
  // Fills beta[i][j], i, j = 1..n, at T; returns smallestKernel (only process 1 reads it).
  virtual double fillKernel(double temperature, CollisionKernel& kernel) = 0;
  // Fills row 1 by the free-molecular form.
  virtual void fillMonomerRow(double temperature, CollisionKernel& kernel) = 0;
  virtual void coagulation(const std::vector<double>& concentration,
                           const CollisionKernel& kernel, std::vector<double>& gain,
                           std::vector<double>& loss) = 0;
  virtual void growth(const GrowthInputs& inputs, std::vector<double>& diameter,
                      std::vector<double>& kelvinConcentration, GrowthRates& rates) = 0;
};

// The program's forms. Everything that does not depend on temperature is computed once in
// prepare(): the free-molecular pair factors, the node diameters and growth shares, and, for
// a constant temperature, the whole table. The table is kept by diagonals (entries
// beta[x][x - d] side by side in x), so that the sums of eight neighbouring nodes, whose
// terms line up along the diagonals of a geometric grid, run side by side. Every sum adds the
// same non-zero terms in the same order as the dense loops; what it adds besides, or leaves
// out, is exactly zero.
class FastPassKernels final : public PassKernels {
 public:
  void prepare(const RunSettings& settings, const NodeGrid& grid, const SplitOperator* split,
               int nodeCount, int firstCoagulatingNode) override;
  // Fills the diagonal table and row 1 of `kernel` (the monomer row that growth reads); the
  // whole of `kernel` only where the run needs it (process 1, whose table never changes).
  // The Fuchs table of processes 2 and 3 is filled on demand: the coagulation sums compute
  // the pairs of occupied nodes, and growth the monomer row's entries of occupied nodes.
  double fillKernel(double temperature, CollisionKernel& kernel) override;
  void fillMonomerRow(double temperature, CollisionKernel& kernel) override;
  // Gain and loss as the dense sums give them, except that with the Fuchs table filled on
  // demand the loss of an empty node is left 0: it only ever enters as N_k L_k, a signed
  // zero either way, and 0.5 G_k minus a zero is 0.5 G_k whatever that zero's sign (G_k is
  // never -0). The dense sums' loss is then known to be finite, from bounds on the table.
  void coagulation(const std::vector<double>& concentration, const CollisionKernel& kernel,
                   std::vector<double>& gain, std::vector<double>& loss) override;
  void growth(const GrowthInputs& inputs, std::vector<double>& diameter,
              std::vector<double>& kelvinConcentration, GrowthRates& rates) override;

  // Writes the whole table of the last fill into `kernel`, as the dense form would have it.
  void writeFullTable(CollisionKernel& kernel);

 private:
  static constexpr int kLanes = 4;

  double* diagonal(int d) { return diag_.data() + offset(d); }
  const double* diagonal(int d) const { return diag_.data() + offset(d); }
  // Where diagonal d >= 0 keeps its entry x = 0.
  std::ptrdiff_t offset(int d) const {
    return static_cast<std::ptrdiff_t>(d) * static_cast<std::ptrdiff_t>(width_) - xLow_;
  }
  // Where beta[i][j] is kept: on diagonal |i - j|, at x = max(i, j).
  std::ptrdiff_t entry(int i, int j) const {
    return i >= j ? offset(i - j) + i : offset(j - i) + j;
  }
  void fillFreeMolecular(double temperature);
  void fillFuchs(double temperature);
  void fuchsNodes(double temperature);
  bool fuchsDiagonals(int low, int high, int done);
  void startFuchsOnDemand(double temperature, CollisionKernel& kernel);
  void ensureTransitions(int from, int to);
  void fillFuchsPairs(int from, int top);
  void completeFill();
  void findTermRuns(int bottom, int top);
  void denseSums(const std::vector<double>& concentration, std::vector<double>& gain,
                 std::vector<double>& loss);

  RunSettings settings_{};
  const NodeGrid* grid_ = nullptr;
  const SplitOperator* split_ = nullptr;
  int n_ = 0;
  int first_ = 1;
  int capacity_ = 0;

  // Diagonal storage: diagonal d (0..n+16) holds beta[x][x - d] for x = xLow_..xLow_+width_-1,
  // zero wherever x or x - d is not a node, so the sums may read past the grid's edges.
  int xLow_ = 0;
  std::size_t width_ = 0;
  std::vector<double> diag_;
  std::vector<double> rootDiag_;    // (1/v_i + 1/v_j)^0.5, same layout
  std::vector<double> squareDiag_;  // (v_i^(1/3) + v_j^(1/3))^2, same layout
  std::vector<double> paddedN_;     // concentrations of nodes s..n, zero elsewhere
  double shapeFactor_ = 0.0;        // (3/(4 pi))^(1/6)
  bool tableFinite_ = true;         // every entry of the last fill is finite
  std::vector<int> reach_;          // highest node fed by pairs of nodes up to m

  // Fuchs: per-node quantities of one fill (the pair formula takes the speeds and the
  // transition parameters squared).
  std::vector<double> pairDiameter_, diffusion_, speed_, speedSquared_, transitionSquared_;
  std::vector<double> transitionScratch_;
  std::vector<int> triangleRest_;  // the last entries of the diagonals, (x, d)
  // Fuchs on demand: the fill's temperature and gas, each node's mean free path, which nodes
  // have their transition parameter, and which pairs are computed (those of nodes
  // pairsFrom_..pairsTop_). When every per-node quantity lies within 1e-50..1e50, every entry
  // of the table is finite and at most largestEntry_, computed or not.
  bool onDemand_ = false;
  double fillTemperature_ = 0.0;
  CarrierGas gas_{};
  std::vector<double> particlePath_;
  std::vector<char> transitionDone_;
  int pairsFrom_ = 0;
  int pairsTop_ = 0;
  bool boundsHold_ = false;
  double largestEntry_ = 0.0;
  CollisionKernel* pendingRow_ = nullptr;  // row 1 still to be written, by growth

  // The table of the last fill, reused while the temperature stays the same.
  bool filled_ = false;
  double filledTemperature_ = 0.0;
  double filledSmallest_ = 0.0;
  const CollisionKernel* filledTable_ = nullptr;

  // Sums of eight neighbouring nodes k0..k0+7 run side by side. Term m of a group is the
  // pair (k + a_m, k + b_m) of every lane k, with fraction split[8m + lane]; a lane without
  // that pair has fraction 0. Lanes past the top node are computed and dropped.
  struct Group {
    int firstNode;                     // the first of eight nodes
    std::int32_t firstTerm, endTerm;   // into the term tables
    int lowOffset, highOffset;         // loss offsets a = i - k covering every lane
  };
  std::vector<Group> groups_;
  // Per term, where lane 0 finds beta[i][j] in diag_ and N_i, N_j in paddedN_, packed (all
  // three are non-negative; paddedN_ has fewer than 2^16 entries).
  std::vector<std::uint64_t> termPlaces_;
  std::vector<double> termSplit_;
  std::size_t splitStart_ = 0;  // where term 0's fractions start, on a cache line
  // Per term, its offsets (a, b). The runs of terms [first, end) that read an occupied node
  // on both sides in some lane (those of one a apart) while the lowest and highest occupied
  // nodes are runsKey_; group g's runs are runStart_[g]..runStart_[g + 1] - 1.
  std::vector<std::pair<int, int>> termOffsets_;
  struct TermRun {
    std::int32_t first, end;
    bool sameI;  // every term reads the same N_i
  };
  std::vector<TermRun> termRuns_;
  std::vector<std::size_t> runStart_;
  std::pair<int, int> runsKey_{-1, -1};

  std::vector<double> growthDiameter_;  // (6 v / pi)^0.333333 of nodes 1..n
  std::vector<double> growthShare_;     // v_1/(v_k - v_{k-1}) of nodes 2..n
  CollisionKernel scratch_;             // the dense table, for the dense sums' fallback
};

}  // namespace aerosol
