#pragma once
// Sintering of aggregates (Koch and Friedlander): each node's surface area relaxes to that of
// spheres of its volume, dA_k/dt = -(A_k - A_sph,k) / tau_s(d_p, T), A_sph,k = N_k a_sph(v_k),
// with the primaries' diameter d_p = 6 v_k N_k / A_k (taken no larger than the sphere's: the
// state itself is never clipped). tau_s spans from picoseconds to hours within a run: the part
// is stiff and its Jacobian block is exact.
//
// Instant sintering keeps every node's area that of spheres: it replaces the area rates the
// other parts gave by a_sph,k dN_k/dt (and their Jacobian rows alike), so it must come last.
// That alone keeps A_k - a_sph,k N_k constant, rounding included: a node that empties (its
// N_k falling by twenty decades) would be left with the rounding of its start as an area
// below 0. The difference also relaxes, at kInstantRate, faster than any node empties.

#include <vector>

#include "coagulation/node_grid.h"
#include "model/mechanism.h"
#include "model/state_layout.h"
#include "properties/aggregates.h"

namespace aerosol {

class SinteringPart final : public MechanismPart {
 public:
  // 1/s: instant sintering's relaxation of the area to the spheres' (a picosecond).
  static constexpr double kInstantRate = 1e12;

  SinteringPart(const StateLayout& layout, int areaId, const NodeGrid& grid, int first,
                const SinteringLaw& law);

  const char* name() const override { return "sintering"; }
  std::vector<int> reads() const override;
  std::vector<int> writes() const override;
  void addRates(const ModelPoint& point, const double* y, double* ydot) override;
  void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) override;

  // Figures: the characteristic sintering time of each node's primaries (s).
  std::vector<ResultVariable> results() const override;
  void describe(const ModelPoint& point, const double* y, double* values) override;

 private:
  // tau_s of node k's primaries, d ln tau / d d_p and d d_p / dA, d d_p / dN at the state.
  double time(int k, double N, double A, double T, double& logSlope, double& primary,
              double& byArea, double& byNumber) const;
  int area(int node) const { return layout_.at(areaId_, node); }

  const StateLayout& layout_;
  int areaId_;
  const NodeGrid& grid_;
  int n_;
  int first_;
  SinteringLaw law_;
  std::vector<double> sphere_;  // a_sph(v_k), m2
  double smallestPrimary_ = 0.0;  // m: a guard far below node 1's diameter
  double noiseNumber_;              // #/m3: the absolute tolerance of the number concentrations
};

}  // namespace aerosol
