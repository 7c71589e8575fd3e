#include "reference/literal_kernels.h"

#include "coagulation/coagulation_rates.h"

namespace aerosol {

void LiteralPassKernels::prepare(const EngineSetup& setup, const NodeGrid& grid,
                                 const SplitOperator* split, int n) {
  setup_ = setup;
  grid_ = &grid;
  split_ = split;
  n_ = n;
  first_ = setup.firstParticleNode;
}

double LiteralPassKernels::fillKernel(double T, CollisionKernel& kernel) {
  return computeCollisionKernel(T, setup_.collision, *grid_, n_, kernel);
}

void LiteralPassKernels::fillMonomerRow(double T, CollisionKernel& kernel) {
  computeMonomerKernelRow(T, setup_.collision, *grid_, n_, kernel);
}

void LiteralPassKernels::coagulation(const std::vector<double>& N, const CollisionKernel& kernel,
                                     std::vector<double>& gain, std::vector<double>& loss) {
  coagulationRates(N, *split_, kernel, n_, first_, gain, loss);
}

void LiteralPassKernels::growth(const GrowthInputs& in, std::vector<double>& d,
                                std::vector<double>& Ks, GrowthRates& rates) {
  computeGrowthRates(in, d, Ks, rates);
}

}  // namespace aerosol
