#pragma once
// The work of one time step that dominates a run: filling the collision table, the
// coagulation sums and the growth rates. Drivers call it through this interface so that the
// cached, sparse forms used by the program and the straightforward forms kept as a
// reference produce the same numbers through the same driver code.

#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "growth/growth.h"
#include "coagulation/collision_kernel.h"

namespace aerosol {

// What the tables of a run are made from besides the grid: the collision model, and where
// the particles start: node 1 with no vapour (the table then stays whole and is kept while T
// does not change), node 2 when node 1 holds the vapour monomers.
struct EngineSetup {
  CollisionModel collision{};
  int firstParticleNode = 2;
};

// Each step fills the table (or only its monomer row) at the step's temperature; growth and
// the coagulation sums then read that fill.
class PassKernels {
 public:
  virtual ~PassKernels() = default;
  // Once per run, after the grid (and the split operator, where the run coagulates) are
  // built and before the first step. `split` may be null.
  virtual void prepare(const EngineSetup& setup, const NodeGrid& grid,
                       const SplitOperator* split, int nodeCount) = 0;
  // A new gas pressure (atm) for the fills that follow (a history that gives pressures).
  virtual void setGasPressure(double pressure) = 0;
  // Fills beta[i][j], i, j = 1..n, at T; returns smallestKernel (the smaller of 1e-9 and the
  // smallest entry; only a run whose particles start at node 1 reads it).
  virtual double fillKernel(double temperature, CollisionKernel& kernel) = 0;
  // Fills row 1 by the free-molecular form.
  virtual void fillMonomerRow(double temperature, CollisionKernel& kernel) = 0;
  virtual void coagulation(const std::vector<double>& concentration,
                           const CollisionKernel& kernel, std::vector<double>& gain,
                           std::vector<double>& loss) = 0;
  virtual void growth(const GrowthInputs& inputs, std::vector<double>& diameter,
                      std::vector<double>& kelvinConcentration, GrowthRates& rates) = 0;
};

// The program's forms are FastPassKernels (engine/fast_pass_kernels.h).

}  // namespace aerosol
