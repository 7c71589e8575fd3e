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

// Node counts a grid may have: at least 3 (the default spacing divides by n - 2), at most
// what the step engine's packed tables serve.
inline constexpr int kFewestNodes = 3;
inline constexpr int kMostNodes = 400;
// Per-node tables have room for max(50, n + 2) entries, so that small grids behave exactly
// as with the classic fixed tables of 50 (node 0 unused, guard node n + 1).
inline constexpr int kClassicCapacity = 50;
int tableCapacity(int nodeCount);

// The spacing factor v_{k+1}/v_k that spreads n nodes over twelve decades of volume above
// the first: 10^(12/(n - 2)).
double defaultSpacingFactor(int nodeCount);
// Volume (m3) of a sphere of diameter d in nm, as the input files give sizes.
double volumeOfDiameterNm(double diameterNm);
// Diameter (m) of node volume v (m3): (6 v / pi)^e with the grid's stored one third e.
double nodeDiameter(double volume, double exponent);
// Whether a grid of n nodes from firstVolume (m3) at spacing q has finite node volumes above
// 0 up to its guard node n + 1 (the largest, q^n times the first).
bool gridVolumesUsable(double firstVolume, double spacingFactor, int nodeCount);

// A grid as a case describes it.
struct GridSpec {
  int nodeCount = 0;           // kFewestNodes..kMostNodes
  double spacingFactor = 0.0;  // v_{k+1}/v_k; 0: defaultSpacingFactor(nodeCount)
  // Volume of node 1, m3: the vapour monomer, or the smallest particle without a vapour.
  double firstVolume = 0.0;
  double diameterExponent = kThirdSix;  // the grid's stored one third

  double spacing() const {
    return spacingFactor > 0.0 ? spacingFactor : defaultSpacingFactor(nodeCount);
  }
  // Volume (m3) and diameter (m) of node k, as buildNodeGrid forms them.
  double volumeOf(int node) const;
  double diameterOf(int node) const { return nodeDiameter(volumeOf(node), diameterExponent); }
};

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
// A product lands on at most two neighbouring nodes (all of it on the top node at or above
// its volume), so the operator keeps, per pair, the lower node and its two fractions: n^2
// numbers, not n^3 (half a gigabyte at 400 nodes).
struct SplitOperator {
  int capacity = 0;
  std::vector<int> lowNode;            // per pair: the node that takes lowFraction; 0 for none
  std::vector<double> lowFraction;     // at lowNode
  std::vector<double> highFraction;    // at lowNode + 1 (0 at the top node)

  double at(int i, int j, int k) const {
    const std::size_t p = pair(i, j);
    if (k == lowNode[p]) return lowFraction[p];
    if (k == lowNode[p] + 1) return highFraction[p];
    return 0.0;
  }
  std::size_t pair(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(capacity) +
           static_cast<std::size_t>(j);
  }
};

SplitOperator makeSplitOperator(int capacity);

// Fills chi for i, j, k = 1..n from the volumes v_1..v_n (and v_{k+1} for k < n): the
// product is shared between its bracketing nodes conserving number and volume; at or above
// the top node's volume it all goes to the top node, conserving volume only.
void buildSplitOperator(SplitOperator& split, const std::vector<double>& volume, int nodeCount);

}  // namespace aerosol
