#include "model/coagulation_part.h"

namespace aerosol {

CoagulationPart::CoagulationPart(const StateLayout& layout, Collisions& collisions,
                                 const SplitOperator& split, int first)
    : collisions_(collisions), n_(layout.nodeCount()), first_(first) {
  // The terms of the gain sums, in their order, for the Jacobian.
  for (int k = first; k <= n_; ++k)
    for (int i = first; i <= n_; ++i)
      for (int j = first; j <= k; ++j)
        if (split.at(i, j, k) != 0.0) gainTerms_.push_back({i, j, k, split.at(i, j, k)});
  const auto size = static_cast<std::size_t>(split.capacity);
  N_.assign(size, 0.0);
  gain_.assign(size, 0.0);
  loss_.assign(size, 0.0);
}

std::vector<int> CoagulationPart::particleNodes() const {
  std::vector<int> nodes;
  for (int k = first_; k <= n_; ++k) nodes.push_back(k - 1);
  return nodes;
}

void CoagulationPart::addRates(const ModelPoint&, const double* y, double* ydot) {
  for (int k = 1; k <= n_; ++k) N_[static_cast<std::size_t>(k)] = y[k - 1];
  collisions_.engine().coagulation(N_, collisions_.table(), gain_, loss_);
  for (int k = first_; k <= n_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    ydot[k - 1] += 0.5 * gain_[i] - N_[i] * loss_[i];
  }
}

void CoagulationPart::addJacobian(const ModelPoint&, const double* y, JacobianColumns columns) {
  collisions_.completeTable();
  const CollisionKernel& kernel = collisions_.table();
  // R_k = 0.5 G_k - N_k L_k with G_k = sum chi beta_ij N_i N_j and L_k = sum_i beta_ki N_i.
  for (int k = first_; k <= n_; ++k) {
    const double Nk = y[k - 1];
    double L = 0.0;
    for (int i = first_; i <= n_; ++i) {
      const double beta = kernel.at(k, i);
      L = L + beta * y[i - 1];
      columns[i - 1][k - 1] -= Nk * beta;
    }
    columns[k - 1][k - 1] -= L;
  }
  for (const GainTerm& term : gainTerms_) {
    const double w = 0.5 * term.chi * kernel.at(term.i, term.j);
    columns[term.i - 1][term.k - 1] += w * y[term.j - 1];
    columns[term.j - 1][term.k - 1] += w * y[term.i - 1];
  }
}

}  // namespace aerosol
