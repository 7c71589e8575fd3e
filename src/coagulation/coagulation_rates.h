#pragma once
// Coagulation gain and loss of every node. The rate of change of node k is
// R_k = 0.5 G_k - N_k L_k (#/(m3 s)): G_k collects every collision whose product the split
// operator counts in part at node k (each unordered pair twice, hence the half), L_k is the
// collision frequency of a node-k particle with all others (1/s).

#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"

namespace aerosol {

// Writes gain[k] and loss[k] for k = s..n from the concentrations N_s..N_n, where s is the
// first coagulating node (1 when node 1 holds particles, 2 when it holds the vapour).
void coagulationRates(const std::vector<double>& concentration, const SplitOperator& split,
                      const CollisionKernel& kernel, int nodeCount, int firstCoagulatingNode,
                      std::vector<double>& gain, std::vector<double>& loss);

}  // namespace aerosol
