#include "coagulation/node_grid.h"

#include <cmath>

namespace aerosol {

NodeGrid makeNodeGrid(int capacity) {
  NodeGrid grid;
  grid.capacity = capacity;
  const auto size = static_cast<std::size_t>(capacity);
  grid.volume.assign(size, 0.0);
  grid.diameter.assign(size, 0.0);
  grid.mass.assign(size, 0.0);
  return grid;
}

void buildNodeGrid(NodeGrid& grid, double firstVolume, double spacingFactor, double density,
                   int nodeCount, double exponent) {
  grid.volume[1] = firstVolume;
  for (int k = 2; k <= nodeCount + 1; ++k)
    grid.volume[k] = std::pow(spacingFactor, static_cast<double>(k - 1)) * firstVolume;
  for (int k = 1; k <= nodeCount + 1; ++k) {
    grid.diameter[k] = std::pow(grid.volume[k] * 6.0 / 3.1415926, exponent);
    grid.mass[k] = grid.volume[k] * density;
  }
}

SplitOperator makeSplitOperator(int capacity) {
  SplitOperator split;
  split.capacity = capacity;
  const auto c = static_cast<std::size_t>(capacity);
  split.chi.assign(c * c * c, 0.0);
  return split;
}

void buildSplitOperator(SplitOperator& split, const std::vector<double>& v, int n) {
  for (int k = 1; k <= n; ++k) {
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) {
        const double sum = v[i] + v[j];
        if (sum >= v[n]) {
          // At or above the top node: all of it there, volume conserved.
          split.at(i, j, n) = sum / v[n];
        } else if (v[k] <= sum && sum < v[k + 1]) {
          split.at(i, j, k) = (v[k + 1] - v[i] - v[j]) / (v[k + 1] - v[k]);
        } else if (k > 1 && v[k - 1] <= sum && sum < v[k]) {
          split.at(i, j, k) = (v[i] + v[j] - v[k - 1]) / (v[k] - v[k - 1]);
        }
      }
    }
  }
}

}  // namespace aerosol
