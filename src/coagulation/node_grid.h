#pragma once
// The geometric size axis (node volumes, diameters, masses) and the size-splitting
// operator that shares a collision product between the two nodes bracketing its volume.
// Node k sits at index k of every per-node table; index 0 is not a node; node n + 1 is a
// guard that only serves as the top node's upper neighbour.

#include <cstddef>
#include <vector>

namespace aerosol {

// One-third exponents as the grid formulas store them: process 1 and 2 grids use seven
// threes, the growth processes six.
inline constexpr double kThirdSeven = 0.3333333;
inline constexpr double kThirdSix = 0.333333;

struct NodeGrid {
  int capacity = 0;
  std::vector<double> volume;    // m3
  std::vector<double> diameter;  // m
  std::vector<double> mass;      // kg
};

// A zeroed grid with room for `capacity` nodes (indices 0..capacity-1).
NodeGrid makeNodeGrid(int capacity);

// Fills nodes 1..n+1: v_k = q^(k-1) v_1 (each from its own power), d_k = (6 v_k / pi)^e,
// m_k = v_k rho.
void buildNodeGrid(NodeGrid& grid, double firstVolume, double spacingFactor, double density,
                   int nodeCount, double exponent);

// chi[i][j][k]: the part of one collision of nodes i and j counted as a particle of node k.
struct SplitOperator {
  int capacity = 0;
  std::vector<double> chi;

  double at(int i, int j, int k) const { return chi[index(i, j, k)]; }
  double& at(int i, int j, int k) { return chi[index(i, j, k)]; }
  std::size_t index(int i, int j, int k) const {
    const auto c = static_cast<std::size_t>(capacity);
    return (static_cast<std::size_t>(i) * c + static_cast<std::size_t>(j)) * c +
           static_cast<std::size_t>(k);
  }
};

SplitOperator makeSplitOperator(int capacity);

// Fills chi for i, j, k = 1..n from the volumes v_1..v_n (and v_{k+1} for k < n): the
// product is shared between its bracketing nodes conserving number and volume; at or above
// the top node's volume it all goes to the top node, conserving volume only.
void buildSplitOperator(SplitOperator& split, const std::vector<double>& volume, int nodeCount);

}  // namespace aerosol
