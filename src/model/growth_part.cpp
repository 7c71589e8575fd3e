#include "model/growth_part.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace aerosol {

GrowthPart::GrowthPart(const StateLayout& layout, Collisions& collisions, const Vapor& vapor,
                       const NodeGrid& grid)
    : layout_(layout),
      collisions_(collisions),
      vapor_(vapor),
      grid_(grid),
      n_(layout.nodeCount()),
      rates_(makeGrowthRates(grid.capacity)) {
  const auto size = static_cast<std::size_t>(grid.capacity);
  N_.assign(size, 0.0);
  diameter_.assign(size, 0.0);
  kelvin_.assign(size, 0.0);
}

std::vector<int> GrowthPart::reads() const {
  std::vector<int> r;
  for (int k = 1; k <= n_; ++k) r.push_back(k - 1);
  return r;
}

std::vector<int> GrowthPart::writes() const {
  std::vector<int> w;
  for (int k = vapor_.depleted() ? 1 : 2; k <= n_; ++k) w.push_back(k - 1);
  return w;
}

void GrowthPart::addRates(const ModelPoint& point, const double* y, double* ydot) {
  for (int k = 1; k <= n_; ++k) N_[static_cast<std::size_t>(k)] = y[k - 1];
  const NucleationState st = vapor_.state(point.gas, N_[1]);
  const MaterialProperties& m = vapor_.material();
  const CollisionKernel& kernel = collisions_.table();
  const GrowthInputs in{n_,
                        &grid_.volume,
                        &N_,
                        &kernel.beta[kernel.index(1, 0)],
                        st.surfaceTension,
                        st.saturationConcentration,
                        point.gas.temperature,
                        m.molarMass,
                        m.density,
                        true};
  collisions_.engine().growth(in, diameter_, kelvin_, rates_);
  for (int k = 2; k <= n_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    ydot[k - 1] = ydot[k - 1] + rates_.growthGain[i] - rates_.growthLoss[i];
  }
  if (vapor_.depleted()) {
    // The operator counts one monomer per unit of flux out of node 2, where v1/(v2 - v1)
    // particles leave it: the rest, (v2/(v2 - v1) - 1) per unit of flux, is exactly node 2's
    // growth loss.
    double release = rates_.monomerRelease;
    if (kelvin_[2] > N_[1]) release = release + rates_.growthLoss[2];
    ydot[0] = ydot[0] - (rates_.monomerUptake - release);
  }
}

void GrowthPart::addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) {
  collisions_.completeTable();
  const double root = std::sqrt(std::numeric_limits<double>::epsilon());
  double scale = 0.0;
  for (int k = 2; k <= n_; ++k) scale = std::max(scale, std::fabs(y[k - 1]));
  if (!(scale > 0.0)) scale = 1.0;
  quotients_.addColumns(
      layout_.size(), y, reads(),
      [&](const double* state, double* out) { addRates(point, state, out); },
      [&](int m, double value) {
        return m == 0 ? root * std::max(std::fabs(value), 1.0) : std::max(std::fabs(value), scale);
      },
      columns);
}

}  // namespace aerosol
