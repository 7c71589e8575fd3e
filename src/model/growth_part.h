#pragma once
// Surface growth: condensation of vapour monomers on the particles and evaporation from them
// with the Kelvin effect, each node moving particles to its neighbours so that particle volume
// is kept; a depleted vapour loses the monomers taken up and regains those given off.
// Particles that evaporate out of node 2 leave the grid as monomers, v2/v1 of them each, so
// that total volume is kept too.
//
// Its Jacobian block is exact: a node j grows (N1 above its Kelvin concentration K_j) or
// evaporates at beta_j (N1 - K_j) N_j monomers per second, moving s = v1/(v_{j+1} - v_j) (or
// v1/(v_j - v_{j-1})) of a particle per monomer, so the rates are linear in N_j and in N1 on
// either side of N1 = K_j (K_j does not depend on N1).

#include <vector>

#include "growth/growth.h"
#include "model/collisions.h"
#include "model/mechanism.h"
#include "model/state_layout.h"
#include "model/vapor.h"

namespace aerosol {

class GrowthPart final : public MechanismPart {
 public:
  // `areaId`: the layout's surface area of aggregates, or -1 (spheres). Particles that grow
  // keep their primaries' number: their area goes with them times (v_to / v_from)^(2/3).
  GrowthPart(const StateLayout& layout, Collisions& collisions, const Vapor& vapor,
             const NodeGrid& grid, int areaId = -1);

  const char* name() const override { return "growth"; }
  std::vector<int> reads() const override;
  std::vector<int> writes() const override;
  void addRates(const ModelPoint& point, const double* y, double* ydot) override;
  void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) override;

 private:
  // The area moved with the particles, into ydot, or its derivatives into the columns.
  void addAreaRates(const double* y, double* ydot) const;
  void addAreaJacobian(const double* y, JacobianColumns columns) const;
  int area(int node) const { return layout_.at(areaId_, node); }

  const StateLayout& layout_;
  Collisions& collisions_;
  const Vapor& vapor_;
  const NodeGrid& grid_;
  int n_;
  int areaId_;
  std::vector<double> up_, down_;  // (v_{k+1}/v_k)^(2/3) and (v_{k-1}/v_k)^(2/3)
  std::vector<double> N_, diameter_, kelvin_, scratch_;
  GrowthRates rates_;
};

}  // namespace aerosol
