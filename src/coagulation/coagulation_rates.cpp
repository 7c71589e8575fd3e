#include "coagulation/coagulation_rates.h"

namespace aerosol {

void coagulationRates(const std::vector<double>& N, const SplitOperator& split,
                      const CollisionKernel& kernel, int n, int s, std::vector<double>& gain,
                      std::vector<double>& loss) {
  for (int k = s; k <= n; ++k) {
    double g = 0.0;
    double l = 0.0;
    for (int i = s; i <= n; ++i) {
      l = l + kernel.at(k, i) * N[i];
      // Products of pairs with j > k never land at or below node k, except at the top node.
      for (int j = s; j <= k; ++j) g = g + split.at(i, j, k) * kernel.at(i, j) * N[i] * N[j];
    }
    gain[k] = g;
    loss[k] = l;
  }
}

}  // namespace aerosol
