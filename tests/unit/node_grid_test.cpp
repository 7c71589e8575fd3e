// Node grid and size-splitting operator: geometry of the grid, and the sharing of every
// collision product between the nodes that bracket it.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "coagulation/node_grid.h"

namespace aerosol {
namespace {

// The spacing factor as the settings derive it: 10^(12/(n-2)).
double spacingFor(int n) { return std::pow(10.0, 12.0 / static_cast<double>(n - 2)); }

struct Built {
  NodeGrid grid;
  SplitOperator split;
};

Built build(int n, double v1 = 8.3022e-29, double rho = 2000.0) {
  const int capacity = n + 2 > 50 ? n + 2 : 50;
  Built b{makeNodeGrid(capacity), makeSplitOperator(capacity)};
  buildNodeGrid(b.grid, v1, spacingFor(n), rho, n, kThirdSeven);
  buildSplitOperator(b.split, b.grid.volume, n);
  return b;
}

// ---------------------------------------------------------------- node grid

TEST(NodeGrid, ThreeNodesSpanTwelveDecadesPerStep) {
  NodeGrid grid = makeNodeGrid(50);
  buildNodeGrid(grid, 1.0, 1e12, 1.0, 3, kThirdSeven);
  EXPECT_DOUBLE_EQ(grid.volume[2], 1e12);
  EXPECT_DOUBLE_EQ(grid.volume[3], 1e24);
  EXPECT_DOUBLE_EQ(grid.volume[4], 1e36);  // guard node
}

TEST(NodeGrid, GeometricOverTwelveDecadesNotByRepeatedMultiplication) {
  // Node n-1 lies twelve decades above node 1 at a constant ratio q. Each volume is its own
  // power q^(k-1) v1: on the larger grids repeated multiplication ends ulps away from it.
  for (int n : {3, 14, 26, 41, 42, 48}) {
    SCOPED_TRACE(n);
    const double v1 = 3.7e-28;
    const double q = spacingFor(n);
    NodeGrid grid = makeNodeGrid(50);
    buildNodeGrid(grid, v1, q, 1500.0, n, kThirdSeven);
    EXPECT_EQ(grid.volume[1], v1);
    EXPECT_NEAR(grid.volume[n - 1] / v1, 1e12, 1e12 * 1e-12);
    double product = v1;
    int differing = 0;
    for (int k = 2; k <= n + 1; ++k) {
      EXPECT_NEAR(grid.volume[k] / grid.volume[k - 1], q, 1e-14 * q) << k;
      product *= q;
      differing += product != grid.volume[k];
    }
    EXPECT_TRUE(n < 48 || differing > 0);
  }
}

TEST(NodeGrid, DiametersAreTheSpheresAndMassesFollowTheDensity) {
  // Either cube-root decimal gives the sphere's diameter to 1e-4 over the whole grid (from
  // 0.5 nm to 5 um), the two measurably apart (about 1e-5 relative at 1 nm).
  EXPECT_EQ(kThirdSeven, 0.3333333);
  EXPECT_EQ(kThirdSix, 0.333333);
  const int n = 10;
  const double rho = 1830.0;
  NodeGrid seven = makeNodeGrid(50), six = makeNodeGrid(50);
  buildNodeGrid(seven, 1e-28, spacingFor(n), rho, n, kThirdSeven);
  buildNodeGrid(six, 1e-28, spacingFor(n), rho, n, kThirdSix);
  for (const NodeGrid* grid : {&seven, &six})
    for (int k = 1; k <= n + 1; ++k) {
      EXPECT_NEAR(grid->diameter[k] / std::cbrt(6.0 * grid->volume[k] / M_PI), 1.0, 1e-4) << k;
      EXPECT_EQ(grid->mass[k], grid->volume[k] * rho);
    }
  EXPECT_GT(std::fabs(seven.diameter[1] / six.diameter[1] - 1.0), 1e-6);
}

// ---------------------------------------------------------------- split operator

// Invariants that every grid must satisfy, whatever its size.
void checkInvariants(int n) {
  SCOPED_TRACE(::testing::Message() << "n=" << n);
  const Built b = build(n);
  const std::vector<double>& v = b.grid.volume;
  const double q = spacingFor(n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      SCOPED_TRACE(::testing::Message() << "pair (" << i << "," << j << ")");
      const double s = v[i] + v[j];
      int nonZero = 0;
      int first = 0;
      int last = 0;
      double number = 0.0;
      double volume = 0.0;
      for (int k = 1; k <= n; ++k) {
        const double chi = b.split.at(i, j, k);
        // Symmetric to rounding: the lower-node numerator v_{k+1} - v_i - v_j is formed left
        // to right, so swapping i and j may move it by an ulp.
        EXPECT_NEAR(chi, b.split.at(j, i, k), 1e-13 * (chi > 1.0 ? chi : 1.0)) << "k=" << k;
        EXPECT_GE(chi, 0.0);
        if (chi != 0.0) {
          ++nonZero;
          if (first == 0) first = k;
          last = k;
        }
        number += chi;
        volume += chi * v[k];
      }
      if (s >= v[n]) {
        // Top node: one entry, volume conserved, number not.
        ASSERT_EQ(nonZero, 1);
        EXPECT_EQ(b.split.at(i, j, n), s / v[n]);
        EXPECT_GE(b.split.at(i, j, n), 1.0);
      } else {
        ASSERT_GE(nonZero, 1);
        ASSERT_LE(nonZero, 2);
        EXPECT_LE(last - first, 1);
        // The entries sit at the nodes bracketing s.
        EXPECT_LE(v[first], s);
        EXPECT_LE(s, v[last]);
        EXPECT_NEAR(number, 1.0, 1e-12);
        EXPECT_NEAR(volume / s, 1.0, 1e-12);
        // A non-zero entry below the top node needs s < v_{k+1}: both partners at or below k.
        if (first < n) {
          EXPECT_LT(s, v[first + 1]);
          EXPECT_LE(i, first);
          EXPECT_LE(j, first);
        }
      }
      // Node 1 receives a share only from the pair (1,1), and only when 2 v_1 < v_2.
      if (b.split.at(i, j, 1) != 0.0) {
        EXPECT_EQ(i, 1);
        EXPECT_EQ(j, 1);
        EXPECT_GT(q, 2.0);
      }
    }
  }
  EXPECT_EQ(b.split.at(1, 1, 1) != 0.0, q > 2.0);
}

TEST(SplitOperator, InvariantsOnEveryGridSize) {
  for (int n : {3, 4, 5, 10, 14, 26, 41, 42, 48}) checkInvariants(n);
}

TEST(SplitOperator, LargerGridsKeepTheInvariants) {
  for (int n : {60, 120}) checkInvariants(n);
}

TEST(SplitOperator, ThreeNodeGridValues) {
  // The fractions between bracketing nodes are fixed by number and volume (the invariants
  // above); what they do not fix: where each pair goes, a sum rounded to the larger node,
  // and the top node.
  const Built b = build(3);
  const std::vector<double>& v = b.grid.volume;
  const double v1 = v[1], v2 = v[2], v3 = v[3];
  // (1,1): 2 v_1 lies between v_1 and v_2; (1,2) and (2,2) between v_2 and v_3.
  EXPECT_GT(b.split.at(1, 1, 1), 0.0);
  EXPECT_EQ(b.split.at(1, 1, 3), 0.0);
  EXPECT_EQ(b.split.at(1, 2, 1), 0.0);
  EXPECT_GT(b.split.at(2, 2, 2), 0.0);
  // v_1 is lost to rounding in v_1 + v_2 (twelve decades apart): the share is formed from
  // the rounded sum, not from the exact v_1.
  EXPECT_DOUBLE_EQ(b.split.at(1, 2, 3), (v1 + v2 - v2) / (v3 - v2));
  EXPECT_NEAR(b.split.at(1, 2, 3) / (v1 / (v3 - v2)), 1.0, 1e-3);
  // Every pair with the top node goes to the top node whole, volume conserved.
  for (int other = 1; other <= 3; ++other) {
    EXPECT_EQ(b.split.at(3, other, 1), 0.0);
    EXPECT_EQ(b.split.at(3, other, 2), 0.0);
    EXPECT_EQ(b.split.at(3, other, 3), (v3 + v[other]) / v3);
  }
  EXPECT_EQ(b.split.at(3, 3, 3), 2.0);
}

TEST(SplitOperator, FineGridSharesTwoMonomersBetweenNodesTwoAndThree) {
  for (int n : {42, 48}) {
    SCOPED_TRACE(n);
    const Built b = build(n);
    const std::vector<double>& v = b.grid.volume;
    ASSERT_LT(v[2], 2.0 * v[1]);
    ASSERT_LT(2.0 * v[1], v[3]);
    EXPECT_EQ(b.split.at(1, 1, 1), 0.0);
    EXPECT_NEAR(b.split.at(1, 1, 2) + b.split.at(1, 1, 3), 1.0, 1e-15);
    EXPECT_NEAR(b.split.at(1, 1, 2) * v[2] + b.split.at(1, 1, 3) * v[3], 2.0 * v[1], 1e-15 * v[1]);
    for (int k = 4; k <= n; ++k) EXPECT_EQ(b.split.at(1, 1, k), 0.0);
  }
  // One node fewer and the spacing is above 2: the pair stays partly in node 1.
  const Built coarse = build(41);
  EXPECT_GT(coarse.grid.volume[2], 2.0 * coarse.grid.volume[1]);
  EXPECT_GT(coarse.split.at(1, 1, 1), 0.0);
}

TEST(SplitOperator, SumExactlyOnANodeGoesWholeToThatNode) {
  // Volumes 1, 2, 4, ..., 32: every like pair sums exactly to the next node.
  const int n = 6;
  std::vector<double> v(50, 0.0);
  for (int k = 1; k <= n + 1; ++k) v[k] = std::ldexp(1.0, k - 1);
  SplitOperator split = makeSplitOperator(50);
  buildSplitOperator(split, v, n);
  for (int k = 1; k <= n - 2; ++k) {
    SCOPED_TRACE(k);
    // (k,k) sums to v_{k+1}: all of it at node k+1, nothing at k or k+2.
    EXPECT_EQ(split.at(k, k, k), 0.0);
    EXPECT_EQ(split.at(k, k, k + 1), 1.0);
    EXPECT_EQ(split.at(k, k, k + 2), 0.0);
  }
  // (n-1,n-1) sums exactly to v_n: the top-node rule, chi = 1.
  EXPECT_EQ(split.at(n - 1, n - 1, n), 1.0);
  EXPECT_EQ(split.at(n - 1, n - 1, n - 1), 0.0);
  // (1,2) = 3 lies strictly between 2 and 4.
  EXPECT_EQ(split.at(1, 2, 2), 0.5);
  EXPECT_EQ(split.at(1, 2, 3), 0.5);
  // With a spacing of exactly 2 node 1 receives nothing.
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) EXPECT_EQ(split.at(i, j, 1), 0.0);
}

TEST(SplitOperator, ReadsNoVolumeAboveTheTopNode) {
  // The guard volume must not influence the operator.
  const int n = 8;
  std::vector<double> v(50, 0.0);
  for (int k = 1; k <= n; ++k) v[k] = std::pow(10.0, k - 1);
  std::vector<double> w = v;
  v[n + 1] = 1e8;
  w[n + 1] = -12345.0;
  SplitOperator a = makeSplitOperator(50), b = makeSplitOperator(50);
  buildSplitOperator(a, v, n);
  buildSplitOperator(b, w, n);
  EXPECT_EQ(a.lowNode, b.lowNode);
  EXPECT_EQ(a.lowFraction, b.lowFraction);
  EXPECT_EQ(a.highFraction, b.highFraction);
  // Nor write outside nodes 1..n.
  for (int i = 0; i < 50; ++i)
    for (int j = 0; j < 50; ++j)
      for (int k = 0; k < 50; ++k)
        if (i == 0 || j == 0 || k == 0 || i > n || j > n || k > n) {
          ASSERT_EQ(a.at(i, j, k), 0.0) << i << "," << j << "," << k;
        }
}

}  // namespace
}  // namespace aerosol
