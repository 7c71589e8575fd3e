#pragma once
// The collision table shared by coagulation and growth: the step engine's fast forms filled
// once per evaluation at the gas state (temperature and, from a history that gives them,
// pressure), the whole table where a Jacobian needs every entry.

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "engine/fast_pass_kernels.h"
#include "properties/gas_history.h"

namespace aerosol {

class Collisions {
 public:
  // `split` is null without coagulation; `wholeTable`: fill every pair (coagulation, or
  // growth by the Fuchs kernel), else only the monomer row. Throws std::invalid_argument
  // when the engine cannot serve the grid.
  Collisions(const EngineSetup& setup, const NodeGrid& grid, const SplitOperator* split,
             int nodeCount, bool wholeTable, bool pressureVaries);
  Collisions(const Collisions&) = delete;
  Collisions& operator=(const Collisions&) = delete;

  // The table at this gas state, for the rates that follow (kept while the state is the same).
  void fill(const GasState& gas);
  // Every entry of the last fill written out (the sums' fills leave out pairs of empty
  // nodes, whose entries derivatives need). Once per fill.
  void completeTable();

  const CollisionKernel& table() const { return table_; }
  FastPassKernels& engine() { return engine_; }
  KernelForm form() const { return form_; }

 private:
  FastPassKernels engine_;
  CollisionKernel table_;
  KernelForm form_;
  bool wholeTable_;
  bool pressureVaries_;
  bool complete_ = false;
  bool filled_ = false;
  double temperature_ = 0.0;  // K, of the last fill
  double pressure_ = 0.0;     // atm
};

}  // namespace aerosol
