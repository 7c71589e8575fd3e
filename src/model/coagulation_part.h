#pragma once
// Coagulation: dN_k/dt = 0.5 G_k - N_k L_k, with the gain G_k = sum chi_ijk beta_ij N_i N_j of
// the pairs whose product the split operator shares to node k (volume kept) and the loss
// L_k = sum_i beta_ki N_i, over the particle nodes. Its Jacobian block is exact: the rates
// are quadratic in N.

#include <vector>

#include "coagulation/node_grid.h"
#include "model/collisions.h"
#include "model/mechanism.h"
#include "model/state_layout.h"

namespace aerosol {

class CoagulationPart final : public MechanismPart {
 public:
  // `first` is the first particle node (2 when node 1 holds the vapour).
  CoagulationPart(const StateLayout& layout, Collisions& collisions, const SplitOperator& split,
                  int first);

  const char* name() const override { return "coagulation"; }
  std::vector<int> reads() const override { return particleNodes(); }
  std::vector<int> writes() const override { return particleNodes(); }
  void addRates(const ModelPoint& point, const double* y, double* ydot) override;
  void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) override;

 private:
  std::vector<int> particleNodes() const;

  // The derivative of a gain term chi(i, j, k) beta_ij N_i N_j (a pair with j <= k, as the
  // sums take them: each unordered pair twice) by N_column, with `other` the pair's other
  // node; kept by column, then row, so that a Jacobian writes each column in order.
  struct GainDerivative {
    int column, row, other;
    double chi;
  };

  Collisions& collisions_;
  int n_;
  int first_;
  std::vector<GainDerivative> gainDerivatives_;
  std::vector<double> N_, gain_, loss_;
};

}  // namespace aerosol
