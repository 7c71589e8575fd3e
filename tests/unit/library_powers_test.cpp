// Powers from error-free products: the same doubles as the C library's pow wherever the
// products decide, and the Fuchs transition parameter as fuchsTransition gives it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "coagulation/collision_kernel.h"
#include "engine/library_powers.h"

namespace aerosol {
namespace {

TEST(LibraryPowers, DecidedPowersAreTheLibrarysOwn) {
  if (!productsDecidePowers())
    GTEST_SKIP() << "cannot run here: pow is always called with this C library";
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> exponent(-140.0, 140.0);
  const int draws = 1000000;
  int cubes = 0;
  int threeHalves = 0;
  for (int i = 0; i < draws; ++i) {
    const double x = std::exp2(exponent(random));
    double value = 0.0;
    if (knownCube(x, &value)) {
      ++cubes;
      ASSERT_EQ(value, std::pow(x, 3.0)) << "x = " << x;
    }
    if (knownThreeHalves(x, &value)) {
      ++threeHalves;
      ASSERT_EQ(value, std::pow(x, 1.5)) << "s = " << x;
    }
  }
  // Most are decided (about 90 %), or the shortcut would save nothing.
  EXPECT_GT(cubes, draws * 8 / 10);
  EXPECT_GT(threeHalves, draws * 8 / 10);
}

TEST(LibraryPowers, ExactPowersAndTheEdgesOfTheRange) {
  if (!productsDecidePowers())
    GTEST_SKIP() << "cannot run here: pow is always called with this C library";
  double value = 0.0;
  // Exact cubes and squares of square roots: the remainder is 0, so they are decided.
  for (double x : {3.0, 5.0, 7.0, 101.0, 12345.0}) {
    ASSERT_TRUE(knownCube(x, &value)) << x;
    EXPECT_EQ(value, x * x * x);
    ASSERT_TRUE(knownThreeHalves(x * x, &value)) << x;
    EXPECT_EQ(value, x * x * x);
  }
  // A power of two as the result has a neighbour half an ulp below: left to pow.
  EXPECT_FALSE(knownCube(2.0, &value));
  EXPECT_FALSE(knownThreeHalves(4.0, &value));
  // Outside 2^-250..2^250, not finite, not positive: left to pow.
  const double inf = std::numeric_limits<double>::infinity();
  for (double x : {0.0, -0.0, -3.0, 0x1p-310, 0x1p310, 5e-324, inf, -inf, std::nan("")}) {
    EXPECT_FALSE(knownCube(x, &value)) << x;
    EXPECT_FALSE(knownThreeHalves(x, &value)) << x;
  }
}

TEST(LibraryPowers, TransitionSquaresMatchTheFormulaNodeByNode) {
  // Diameters of a nanometre to a micrometre, particle mean free paths around them, and a
  // few out of the shortcut's range.
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> decades(-9.5, -5.5);
  const int n = 200;
  std::vector<double> d(n + 1), l(n + 1), g2(n + 1, -1.0), scratch(2 * (n + 1));
  std::vector<char> done(n + 1, 0);
  for (int k = 1; k <= n; ++k) {
    d[k] = std::pow(10.0, decades(random));
    l[k] = std::pow(10.0, decades(random));
  }
  d[5] = 1e-80;
  l[9] = 1e90;
  l[11] = 0.0;  // g is not a number: 0/0
  // Nodes already done keep their value (or get it again, the same double).
  for (int k : {3, 4, 150}) {
    const double g = fuchsTransition(d[k], l[k]);
    g2[k] = g * g;
    done[static_cast<std::size_t>(k)] = 1;
  }
  fuchsTransitionSquares(d.data(), l.data(), done.data(), g2.data(), scratch.data(), 2, n);
  EXPECT_EQ(g2[1], -1.0);  // outside the range asked for
  EXPECT_EQ(done[1], 0);
  for (int k = 2; k <= n; ++k) {
    const double g = fuchsTransition(d[k], l[k]);
    const double expected = g * g;
    EXPECT_EQ(done[static_cast<std::size_t>(k)], 1);
    if (std::isnan(expected))
      EXPECT_TRUE(std::isnan(g2[k])) << k;
    else
      EXPECT_EQ(g2[k], expected) << "node " << k << ": d = " << d[k] << ", l = " << l[k];
  }
}

}  // namespace
}  // namespace aerosol
