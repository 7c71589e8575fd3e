#include "coagulation/node_grid.h"

#include <algorithm>
#include <cmath>

#include "properties/constants.h"

namespace aerosol {

int tableCapacity(int nodeCount) { return std::max(kClassicCapacity, nodeCount + 2); }

double defaultSpacingFactor(int n) { return std::pow(10.0, 12.0 / static_cast<double>(n - 2)); }

double volumeOfDiameterNm(double d) { return std::pow(d, 3.0) * (kPi * 1e-27) / 6.0; }

double nodeDiameter(double v, double exponent) { return std::pow(v * 6.0 / kPi, exponent); }

bool gridVolumesUsable(double firstVolume, double q, int n) {
  const double largest = std::pow(q, static_cast<double>(n)) * firstVolume;
  return std::isfinite(firstVolume) && firstVolume > 0.0 && std::isfinite(largest);
}

double GridSpec::volumeOf(int k) const {
  if (k == 1) return firstVolume;
  return std::pow(spacing(), static_cast<double>(k - 1)) * firstVolume;
}

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
    grid.diameter[k] = nodeDiameter(grid.volume[k], exponent);
    grid.mass[k] = grid.volume[k] * density;
  }
}

SplitOperator makeSplitOperator(int capacity) {
  SplitOperator split;
  split.capacity = capacity;
  const auto c = static_cast<std::size_t>(capacity);
  split.lowNode.assign(c * c, 0);
  split.lowFraction.assign(c * c, 0.0);
  split.highFraction.assign(c * c, 0.0);
  return split;
}

void buildSplitOperator(SplitOperator& split, const std::vector<double>& v, int n) {
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const std::size_t p = split.pair(i, j);
      const double sum = v[i] + v[j];
      if (sum >= v[n]) {
        // At or above the top node: all of it there, volume conserved.
        split.lowNode[p] = n;
        split.lowFraction[p] = sum / v[n];
        split.highFraction[p] = 0.0;
        continue;
      }
      // Shared between the bracketing nodes k and k + 1, number and volume conserved.
      int k = 1;
      while (k < n - 1 && !(v[k] <= sum && sum < v[k + 1])) ++k;
      split.lowNode[p] = k;
      split.lowFraction[p] = (v[k + 1] - v[i] - v[j]) / (v[k + 1] - v[k]);
      split.highFraction[p] = (v[i] + v[j] - v[k]) / (v[k + 1] - v[k]);
    }
  }
}

}  // namespace aerosol
