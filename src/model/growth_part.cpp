#include "model/growth_part.h"

#include <cmath>

namespace aerosol {

GrowthPart::GrowthPart(const StateLayout& layout, Collisions& collisions, const Vapor& vapor,
                       const NodeGrid& grid, int areaId)
    : layout_(layout),
      collisions_(collisions),
      vapor_(vapor),
      grid_(grid),
      n_(layout.nodeCount()),
      areaId_(areaId),
      rates_(makeGrowthRates(grid.capacity)) {
  const auto size = static_cast<std::size_t>(grid.capacity);
  N_.assign(size, 0.0);
  diameter_.assign(size, 0.0);
  kelvin_.assign(size, 0.0);
  up_.assign(size, 0.0);
  down_.assign(size, 0.0);
  const std::vector<double>& v = grid.volume;
  for (int k = 2; k <= n_; ++k) {
    up_[static_cast<std::size_t>(k)] = std::pow(v[k + 1] / v[k], 2.0 / 3.0);
    down_[static_cast<std::size_t>(k)] = std::pow(v[k - 1] / v[k], 2.0 / 3.0);
  }
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
  if (areaId_ >= 0) addAreaRates(y, ydot);
}

// Node j takes up c_j = beta_j (N1 - K_j) monomers per particle per second (negative while it
// evaporates) and moves s c_j N_j particles to its neighbour, with their area s c_j A_j.
void GrowthPart::addAreaRates(const double* y, double* ydot) const {
  const CollisionKernel& kernel = collisions_.table();
  const std::vector<double>& v = grid_.volume;
  const double N1 = y[0];
  for (int j = 2; j <= n_; ++j) {
    const auto i = static_cast<std::size_t>(j);
    const double K = kelvin_[i];
    const double c = kernel.at(1, j) * (N1 - K);
    const double Aj = y[area(j)];
    if (K < N1 && j <= n_ - 1) {
      const double moved = growthShare(v, j + 1) * c * Aj;
      ydot[area(j)] -= moved;
      ydot[area(j + 1)] += moved * up_[i];
    } else if (K > N1) {
      const double moved = -growthShare(v, j) * c * Aj;
      ydot[area(j)] -= moved;
      if (j >= 3) ydot[area(j - 1)] += moved * down_[i];  // out of node 2: off the grid
    }
  }
}

void GrowthPart::addAreaJacobian(const double* y, JacobianColumns columns) const {
  const CollisionKernel& kernel = collisions_.table();
  const std::vector<double>& v = grid_.volume;
  const double N1 = y[0];
  for (int j = 2; j <= n_; ++j) {
    const auto i = static_cast<std::size_t>(j);
    const double K = kelvin_[i];
    const double beta = kernel.at(1, j);
    const double c = beta * (N1 - K);
    const double Aj = y[area(j)];
    if (K < N1 && j <= n_ - 1) {
      const double s = growthShare(v, j + 1);
      columns[area(j)][area(j)] -= s * c;
      columns[area(j)][area(j + 1)] += s * c * up_[i];
      columns[0][area(j)] -= s * beta * Aj;
      columns[0][area(j + 1)] += s * beta * Aj * up_[i];
    } else if (K > N1) {
      const double s = growthShare(v, j);
      columns[area(j)][area(j)] += s * c;
      columns[0][area(j)] += s * beta * Aj;
      if (j >= 3) {
        columns[area(j)][area(j - 1)] -= s * c * down_[i];
        columns[0][area(j - 1)] -= s * beta * Aj * down_[i];
      }
    }
  }
}

void GrowthPart::addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) {
  // The Kelvin concentrations and the monomer row at this state.
  scratch_.assign(static_cast<std::size_t>(layout_.size()), 0.0);
  addRates(point, y, scratch_.data());
  const CollisionKernel& kernel = collisions_.table();
  const std::vector<double>& v = grid_.volume;
  const bool depleted = vapor_.depleted();
  const double N1 = y[0];
  double* monomerColumn = columns[0];
  for (int j = 2; j <= n_; ++j) {
    const auto i = static_cast<std::size_t>(j);
    const double beta = kernel.at(1, j);
    const double K = kelvin_[i];
    const double c = beta * (N1 - K);  // monomers per particle per second, signed
    const double Nj = y[j - 1];
    double* column = columns[j - 1];
    if (K < N1 && j <= n_ - 1) {
      // Node j grows into node j + 1.
      const double s = growthShare(v, j + 1);
      column[j - 1] -= s * c;
      column[j] += s * c;
      monomerColumn[j - 1] -= s * beta * Nj;
      monomerColumn[j] += s * beta * Nj;
      if (depleted) {
        column[0] -= c;
        monomerColumn[0] -= beta * Nj;
      }
    } else if (K > N1) {
      // Node j evaporates into node j - 1, out of the grid from node 2 (v2/v1 monomers each).
      const double s = growthShare(v, j);
      column[j - 1] += s * c;
      monomerColumn[j - 1] += s * beta * Nj;
      if (j >= 3) {
        column[j - 2] -= s * c;
        monomerColumn[j - 2] -= s * beta * Nj;
      }
      if (depleted) {
        const double perParticle = j == 2 ? 1.0 + s : 1.0;
        column[0] -= perParticle * c;
        monomerColumn[0] -= perParticle * beta * Nj;
      }
    }
  }
  if (areaId_ >= 0) addAreaJacobian(y, columns);
}

}  // namespace aerosol
