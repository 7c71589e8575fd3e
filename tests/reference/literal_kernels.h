#pragma once
// The step's heavy work in its straightforward form: every table entry from its formula at
// every fill (Fuchs quantities once per pair), the dense n^3 coagulation sums over the
// whole split operator, the growth diameters recomputed every step. Slow, and the reference
// that the program's cached and sparse forms must match bit for bit.

#include "engine/pass_kernels.h"

namespace aerosol {

class LiteralPassKernels final : public PassKernels {
 public:
  void prepare(const EngineSetup& setup, const NodeGrid& grid, const SplitOperator* split,
               int nodeCount) override;
  void setGasPressure(double pressure) override { setup_.collision.gas.pressure = pressure; }
  double fillKernel(double temperature, CollisionKernel& kernel) override;
  void fillMonomerRow(double temperature, CollisionKernel& kernel) override;
  void coagulation(const std::vector<double>& concentration, const CollisionKernel& kernel,
                   std::vector<double>& gain, std::vector<double>& loss) override;
  void growth(const GrowthInputs& inputs, std::vector<double>& diameter,
              std::vector<double>& kelvinConcentration, GrowthRates& rates) override;

 private:
  EngineSetup setup_{};
  const NodeGrid* grid_ = nullptr;
  const SplitOperator* split_ = nullptr;
  int n_ = 0;
  int first_ = 1;
};

}  // namespace aerosol
