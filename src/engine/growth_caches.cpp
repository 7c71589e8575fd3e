// Growth rates from what depends on the grid alone: the node diameters and the shares
// v_1/(v_k - v_{k-1}) of the growth operator.

#include "engine/fast_pass_kernels.h"

namespace aerosol {

void FastPassKernels::prepareGrowth() {
  const std::vector<double>& v = grid_->volume;
  const auto c = static_cast<std::size_t>(capacity_);
  growthDiameter_.assign(c, 0.0);
  for (int k = 1; k <= n_; ++k) growthDiameter_[k] = growthDiameter(v[k]);
  growthShare_.assign(c, 0.0);
  for (int k = 2; k <= n_; ++k) growthShare_[k] = growthShare(v, k);
}

void FastPassKernels::growth(const GrowthInputs& in, std::vector<double>& diameter,
                             std::vector<double>& kelvinConcentration, GrowthRates& rates) {
  requireStage(stage_ != Stage::kUnprepared, "growth()");
  // The Fuchs monomer row, where the fill left it to growth.
  fillFuchsMonomerRow(*in.concentration);
  for (int k = 1; k <= in.nodeCount; ++k) diameter[k] = growthDiameter_[k];
  computeGrowthRatesFromShares(in, growthDiameter_, growthShare_, kelvinConcentration, rates);
}

}  // namespace aerosol
