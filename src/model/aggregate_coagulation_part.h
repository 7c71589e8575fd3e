#pragma once
// Coagulation of aggregates: the number rates of coagulation, with the collision frequency of
// each pair from the particles' collision diameters, and their surface area moved with their
// volume. A collision of particles of nodes i and j brings the area a_i + a_j; each node that
// receives part of the product (the split operator, which keeps volume) takes that share of
// the area: chi_ijk v_k / (v_i + v_j) of it, so coagulation keeps the total area exactly.
//
// The kernels take the collision diameter d_c where the sphere's takes its diameter: free
// molecular beta_sphere ((d_ci + d_cj) / (d_vi + d_vj))^2 (the same masses); Fuchs with d_c in
// the geometry, the mobility and the transition parameter. Spheres (d_c = d_v) give the sphere
// kernels' own numbers.
//
// Its Jacobian block is exact: the rates are quadratic in N and bilinear in A and N at a fixed
// kernel; the kernel's dependence on each node's d_c(N, A) is added pair by pair from dbeta/dd_c
// (analytic free molecular, a difference quotient per node for Fuchs).

#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "model/collisions.h"
#include "model/mechanism.h"
#include "model/state_layout.h"
#include "properties/aggregates.h"

namespace aerosol {

class AggregateCoagulationPart final : public MechanismPart {
 public:
  AggregateCoagulationPart(const StateLayout& layout, int areaId, Collisions& collisions,
                           const SplitOperator& split, const NodeGrid& grid, int first,
                           const AggregateProperties& aggregates,
                           const CarrierGasProperties& gas);

  const char* name() const override { return "aggregate coagulation"; }
  std::vector<int> reads() const override;
  std::vector<int> writes() const override { return reads(); }
  void addRates(const ModelPoint& point, const double* y, double* ydot) override;
  void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) override;
  // collision_time: 2 N / sum_ij beta_ij N_i N_j, the time scale on which the particles
  // collide, to set against their sintering time.
  std::vector<ResultVariable> results() const override;
  void describe(const ModelPoint& point, const double* y, double* values) override;

  // The kernel of the last evaluation, m3/s: beta(i, j) at (i - 1) n + j - 1.
  const std::vector<double>& kernel() const { return beta_; }

 private:
  // The collision diameters of the state and the kernel of every pair from them.
  void fillKernel(const ModelPoint& point, const double* y);
  // The Fuchs kernel of the pair (i, j) with node i's particle `a` at collision diameter `di`.
  double fuchs(const FuchsParticle& a, double di, int j, int i) const;
  int area(int node) const { return layout_.at(areaId_, node); }

  const StateLayout& layout_;
  double noiseNumber_;  // #/m3: the absolute tolerance of the number concentrations
  int areaId_;
  Collisions& collisions_;
  const NodeGrid& grid_;
  int n_;
  int first_;
  AggregateProperties aggregates_;
  bool spheres_ = false;  // instant sintering: the particles collide as spheres
  CarrierGasProperties gas_;
  // Per pair (i, j): the product's lower node and the number fractions there and above.
  std::vector<int> low_;
  std::vector<double> lowFraction_, highFraction_;
  std::vector<double> lowArea_, highArea_;  // chi v_k / (v_i + v_j) of the two receiving nodes
  // Of one evaluation: collision diameters, their derivatives by N and A, the kernel.
  std::vector<double> volumeDiameter_, collision_, byNumber_, byArea_;
  double smallestPrimary_ = 0.0;  // m: node 1's diameter
  std::vector<double> beta_;  // n x n, beta_[(i - 1) n + j - 1]
  // Fuchs: the gas and each node's particle at its collision diameter.
  CarrierGas carrier_{};
  double temperature_ = 0.0, pressure_ = 0.0;  // K, atm: the gas the kernel was formed at
  bool filled_ = false;
  std::vector<FuchsParticle> particles_;
  std::vector<double> diffusion_, speedSquared_, transitionSquared_;  // as fuchsRow reads them
  std::vector<double> row_;  // one row of Fuchs entries, indexed by node
  std::vector<double> formedAt_;  // m: each node's d_c when its pairs were formed
  std::vector<char> changed_;
  std::vector<double> rates_;
};

}  // namespace aerosol
