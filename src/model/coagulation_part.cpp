#include "model/coagulation_part.h"

#include <algorithm>

namespace aerosol {

CoagulationPart::CoagulationPart(const StateLayout& layout, Collisions& collisions,
                                 const SplitOperator& split, int first)
    : collisions_(collisions), n_(layout.nodeCount()), first_(first) {
  // The terms of the gain sums (pairs j <= k feeding k; each pair feeds at most two
  // neighbouring nodes), differentiated by either node of the pair.
  for (int i = first; i <= n_; ++i)
    for (int j = first; j <= n_; ++j) {
      const int low = split.lowNode[split.pair(i, j)];
      for (int k = std::max(low, j); k <= std::min(low + 1, n_); ++k) {
        const double chi = split.at(i, j, k);
        if (chi == 0.0) continue;
        gainDerivatives_.push_back({i, k, j, chi});
        gainDerivatives_.push_back({j, k, i, chi});
      }
    }
  std::sort(gainDerivatives_.begin(), gainDerivatives_.end(),
            [](const GainDerivative& a, const GainDerivative& b) {
              return a.column != b.column ? a.column < b.column
                     : a.row != b.row     ? a.row < b.row
                                          : a.other < b.other;
            });
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
  // Column by column (the table is symmetric: beta_ki = beta_ik, row i read in order).
  for (int i = first_; i <= n_; ++i) {
    double* column = columns[i - 1];
    const double* row = &kernel.beta[kernel.index(i, 0)];
    double L = 0.0;
    for (int k = first_; k <= n_; ++k) {
      column[k - 1] -= y[k - 1] * row[k];
      L = L + row[k] * y[k - 1];
    }
    column[i - 1] -= L;
  }
  for (const GainDerivative& d : gainDerivatives_)
    columns[d.column - 1][d.row - 1] +=
        0.5 * d.chi * kernel.at(d.column, d.other) * y[d.other - 1];
}

}  // namespace aerosol
