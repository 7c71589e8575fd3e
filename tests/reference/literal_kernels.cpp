#include "reference/literal_kernels.h"

#include "coagulation/coagulation_rates.h"

namespace aerosol {

void LiteralPassKernels::prepare(const RunSettings& settings, const NodeGrid& grid,
                                 const SplitOperator* split, int n, int s) {
  settings_ = settings;
  grid_ = &grid;
  split_ = split;
  n_ = n;
  first_ = s;
}

double LiteralPassKernels::fillKernel(double T, CollisionKernel& kernel) {
  return computeCollisionKernel(T, settings_, *grid_, n_, kernel);
}

void LiteralPassKernels::fillMonomerRow(double T, CollisionKernel& kernel) {
  computeMonomerKernelRow(T, settings_, *grid_, n_, kernel);
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
