#pragma once
// The program's forms of a step's heavy work: the same doubles as the straightforward forms,
// from cached, diagonal and sparse tables.
//
// Calls come in a fixed order, and a call out of it throws std::logic_error:
//   1. prepare(), once per run, before anything else (again to start over on a new grid);
//   2. each step, at its temperature:
//        fillKernel(T, kernel)       where the run coagulates, or
//        fillMonomerRow(T, kernel)   where it only grows;
//   3. then, until the next fill, for that temperature:
//        coagulation(N, kernel, ...) after fillKernel only, with a split operator;
//        writeFullTable()            after fillKernel only;
//        growth()                    reads the monomer row its inputs point to (row 1 of
//                                    the filled kernel), writing it first where a Fuchs
//                                    fill left it to growth.
// Growth and coagulation may come in either order and any number of times; the Fuchs
// pairs that a new state needs are formed as it asks for them.
//
// The parts, one file each: fast_pass_kernels.cpp (prepare, fillKernel, the order),
// free_molecular_table.cpp, fuchs_table.cpp (Fuchs entries formed on demand),
// gain_loss_sums.cpp (coagulation sums over the term runs), growth_caches.cpp.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "engine/pass_kernels.h"
#include "growth/growth.h"

namespace aerosol {

// Fuchs entries of node r with the nodes from..to, from the nodes' diameters, diffusion
// coefficients and squared speeds and transition lengths (arrays indexed by node):
// out[j] = beta[j][r], with 256-bit vectors where the machine has them.
void fuchsRow(double* __restrict out, const double* __restrict dia, const double* __restrict D,
              const double* __restrict c2, const double* __restrict g2, int r, int from,
              int to);

// Everything that does not depend on temperature is computed once in prepare(): the
// free-molecular pair factors, the node diameters and growth shares, the gain terms, and,
// for a constant temperature, the whole table. The table is kept by diagonals (entries
// beta[x][x - d] side by side in x), so that the sums of eight neighbouring nodes, whose
// terms line up along the diagonals of a geometric grid, run side by side. Every sum adds the
// same non-zero terms in the same order as the dense loops; what it adds besides, or leaves
// out, is exactly zero.
class FastPassKernels final : public PassKernels {
 public:
  // The largest grid served: the places of the gain terms are packed for it (below).
  static constexpr int kMostNodes = aerosol::kMostNodes;

  // Throws std::invalid_argument for a node count outside 3..kMostNodes, a first particle
  // node other than 1 or 2, or tables without room for nodes 0..n+1.
  void prepare(const EngineSetup& setup, const NodeGrid& grid, const SplitOperator* split,
               int nodeCount) override;
  void setGasPressure(double pressure) override;
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

  // A gain term's three places, those of lane 0, packed into one word: beta's index into the
  // diagonal table in the low bits, N_i's and N_j's into the padded concentrations above.
  static constexpr int kTablePlaceBits = 32;
  static constexpr int kNodePlaceBits = 16;
  static_assert(kTablePlaceBits + 2 * kNodePlaceBits == 64, "three places fill one word");
  // The diagonals 0..n+16, each over x = 2s - n - 16 .. 2n + 32 (s = 1 or 2).
  static constexpr std::int64_t diagonalCount(int n) { return n + 17; }
  static constexpr std::int64_t diagonalWidth(int n, int s) { return 3 * n - 2 * s + 49; }

 private:
  static constexpr int kLanes = 4;
  static constexpr int kGroup = 2 * kLanes;  // nodes summed side by side

  // Where the calls stand (see the order above).
  enum class Stage : unsigned char { kUnprepared, kPrepared, kTableFilled, kRowFilled };
  void requireStage(bool allowed, const char* call) const;

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
  void writeMonomerRow(CollisionKernel& kernel) const;

  // free_molecular_table.cpp
  void prepareFreeMolecular();
  double freeMolecularFactor(double temperature) const;
  void fillFreeMolecular(double temperature);
  // fuchs_table.cpp
  void prepareFuchs();
  void fillFuchs(double temperature);
  void fuchsNodes(double temperature);
  bool fuchsDiagonals(int low, int high, int done);
  void startFuchsOnDemand(double temperature, CollisionKernel& kernel);
  void ensureTransitions(int from, int to);
  void fillFuchsPairs(int from, int top);
  void fillFuchsMonomerRow(const std::vector<double>& concentration);
  void completeFill();
  // gain_loss_sums.cpp
  void prepareTerms();
  void findTermRuns(int bottom, int top);
  void denseSums(const std::vector<double>& concentration, std::vector<double>& gain,
                 std::vector<double>& loss);
  // growth_caches.cpp
  void prepareGrowth();

  Stage stage_ = Stage::kUnprepared;
  EngineSetup setup_{};
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
  std::vector<double> paddedN_;  // concentrations of nodes s..n, zero elsewhere
  bool tableFinite_ = true;      // every entry of the last fill is finite
  CollisionKernel scratch_;      // the dense table, for the dense sums' fallback

  // Free molecular: beta = factor(T) (1/v_i + 1/v_j)^0.5 (v_i^(1/3) + v_j^(1/3))^2.
  std::vector<double> rootDiag_;    // (1/v_i + 1/v_j)^0.5, same layout
  std::vector<double> squareDiag_;  // (v_i^(1/3) + v_j^(1/3))^2, same layout
  double shapeFactor_ = 0.0;        // (3/(4 pi))^(1/6)

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

  // Process 1: the table of the last fill, reused while the temperature stays the same.
  bool filled_ = false;
  double filledTemperature_ = 0.0;
  double filledSmallest_ = 0.0;
  const CollisionKernel* filledTable_ = nullptr;

  // Gain and loss sums of eight neighbouring nodes k0..k0+7 run side by side. Term m of a
  // group is the pair (k + a_m, k + b_m) of every lane k, with fraction split[8m + lane]; a
  // lane without that pair has fraction 0. Lanes past the top node are computed and dropped.
  struct Group {
    int firstNode;                     // the first of eight nodes
    std::int32_t firstTerm, endTerm;   // into the term tables
    int lowOffset, highOffset;         // loss offsets a = i - k covering every lane
  };
  std::vector<Group> groups_;
  std::vector<std::uint64_t> termPlaces_;  // packed as kTablePlaceBits, kNodePlaceBits
  std::vector<double> termSplit_;
  std::size_t splitStart_ = 0;  // where term 0's fractions start, on a cache line
  std::vector<int> reach_;      // highest node fed by pairs of nodes up to m
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

  // Growth: what depends on the grid alone.
  std::vector<double> growthDiameter_;  // (6 v / pi)^0.333333 of nodes 1..n
  std::vector<double> growthShare_;     // v_1/(v_k - v_{k-1}) of nodes 2..n
};

// The packed places hold at the largest grid (s = 1 gives the widest diagonals).
static_assert(FastPassKernels::diagonalWidth(FastPassKernels::kMostNodes, 1) <
                  (std::int64_t{1} << FastPassKernels::kNodePlaceBits),
              "a node's place fits its bits at the largest grid");
static_assert(FastPassKernels::diagonalCount(FastPassKernels::kMostNodes) *
                      FastPassKernels::diagonalWidth(FastPassKernels::kMostNodes, 1) <
                  (std::int64_t{1} << FastPassKernels::kTablePlaceBits),
              "a table entry's place fits its bits at the largest grid");

}  // namespace aerosol
