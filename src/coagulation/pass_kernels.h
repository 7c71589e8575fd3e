#pragma once
// The work of one time step that dominates a run: filling the collision table, the
// coagulation sums and the growth rates. Drivers call it through this interface so that the
// cached, sparse forms used by the program and the straightforward forms kept as a
// reference produce the same numbers through the same driver code.

#include <cstdint>
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
// prepare(): the free-molecular pair factors, the node diameters, and, for a constant
// temperature, the whole table. The coagulation gain walks per-node lists of the pairs whose
// split fraction at that node is non-zero, in the order of the dense sums, so every sum adds
// the same terms in the same order; a skipped term is exactly zero.
class FastPassKernels final : public PassKernels {
 public:
  void prepare(const RunSettings& settings, const NodeGrid& grid, const SplitOperator* split,
               int nodeCount, int firstCoagulatingNode) override;
  double fillKernel(double temperature, CollisionKernel& kernel) override;
  void fillMonomerRow(double temperature, CollisionKernel& kernel) override;
  void coagulation(const std::vector<double>& concentration, const CollisionKernel& kernel,
                   std::vector<double>& gain, std::vector<double>& loss) override;
  void growth(const GrowthInputs& inputs, std::vector<double>& diameter,
              std::vector<double>& kelvinConcentration, GrowthRates& rates) override;

 private:
  void fillFreeMolecular(double temperature, CollisionKernel& kernel);
  void fillFuchs(double temperature, CollisionKernel& kernel);
  bool kernelIsFinite(const CollisionKernel& kernel) const;

  RunSettings settings_{};
  const NodeGrid* grid_ = nullptr;
  const SplitOperator* split_ = nullptr;
  int n_ = 0;
  int first_ = 1;
  int capacity_ = 0;

  // Free molecular: beta = ((sqrt(6kT/rho) (3/4pi)^(1/6)) root_ij) square_ij.
  double shapeFactor_ = 0.0;        // (3/(4 pi))^(1/6)
  std::vector<double> root_;        // (1/v_i + 1/v_j)^0.5, capacity x capacity
  std::vector<double> square_;      // (v_i^(1/3) + v_j^(1/3))^2

  // Fuchs: per-node quantities of one fill.
  std::vector<double> diffusion_, speed_, transition_;

  // The table of the last fill, reused while the temperature stays the same.
  bool filled_ = false;
  double filledTemperature_ = 0.0;
  double filledSmallest_ = 0.0;
  bool filledFinite_ = false;
  const CollisionKernel* filledTable_ = nullptr;

  // Non-zero gain terms of node k: termStart_[k]..termStart_[k+1]-1.
  std::vector<std::int32_t> termStart_;
  std::vector<double> termSplit_;
  std::vector<std::int32_t> termI_, termJ_;
  std::vector<std::uint32_t> termPair_;  // index of beta[i][j]

  std::vector<double> growthDiameter_;  // (6 v / pi)^0.333333 of nodes 1..n
};

}  // namespace aerosol
