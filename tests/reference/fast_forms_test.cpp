// The program's cached, diagonal and sparse forms against the straightforward ones, bit for
// bit: on random states (zeros, negatives and non-finite values included) and on the states
// of real runs stepped side by side.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>

#include "coagulation/coagulation_rates.h"
#include "engine/fast_pass_kernels.h"
#include "processes/passes.h"
#include "reference/literal_kernels.h"
#include "support/example_material.h"

namespace aerosol {
namespace {

RunSettings settingsFor(int n, int process, int collisionFunction) {
  return exampleMaterial(n, process, collisionFunction);
}

// Same bits, so that -0 against +0 and differing not-a-numbers count as differences.
void expectSameBits(const std::vector<double>& fast, const std::vector<double>& literal, int from,
                    int to, const char* what) {
  for (int k = from; k <= to; ++k)
    ASSERT_EQ(std::bit_cast<std::uint64_t>(fast[k]), std::bit_cast<std::uint64_t>(literal[k]))
        << what << " at node " << k << ": " << fast[k] << " vs " << literal[k];
}

struct Grid {
  RunSettings settings;
  NodeGrid grid;
  SplitOperator split;
  Grid(int n, int collisionFunction, double firstVolume)
      : settings(settingsFor(n, 2, collisionFunction)),
        grid(makeNodeGrid(tableCapacity(n))),
        split(makeSplitOperator(tableCapacity(n))) {
    buildNodeGrid(grid, firstVolume, settings.spacingFactor, settings.density, n, kThirdSeven);
    buildSplitOperator(split, grid.volume, n);
  }
};

// A grid with both forms prepared on it, each filling a table of its own.
struct BothForms {
  Grid g;
  FastPassKernels fast;
  LiteralPassKernels literal;
  CollisionKernel a, b;
  BothForms(int n, int collisionFunction, int first)
      : g(n, collisionFunction, 8.3e-29),
        a(makeCollisionKernel(g.grid.capacity)),
        b(makeCollisionKernel(g.grid.capacity)) {
    fast.prepare(engineSetupOf(g.settings, first), g.grid, &g.split, n);
    literal.prepare(engineSetupOf(g.settings, first), g.grid, &g.split, n);
  }
};

class FastForms : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(FastForms, TablesMatchTheDenseFillAtEveryTemperature) {
  const auto [n, cf] = GetParam();
  for (int first : {1, 2}) {
    BothForms forms(n, cf, first);
    auto& [g, fast, literal, a, b] = forms;
    CollisionKernel full = makeCollisionKernel(g.grid.capacity);
    for (double T : {300.0, 301.25, 999.9, 1800.0}) {
      const double smallFast = fast.fillKernel(T, a);
      const double smallLiteral = literal.fillKernel(T, b);
      fast.writeFullTable(full);
      for (int i = 1; i <= n; ++i) {
        expectSameBits(full.beta, b.beta, g.grid.capacity * i + 1, g.grid.capacity * i + n,
                       "table entry");
        // Row 1 is written out for the growth operator.
        ASSERT_EQ(std::bit_cast<std::uint64_t>(a.at(1, i)),
                  std::bit_cast<std::uint64_t>(b.at(1, i)));
      }
      if (first == 1) {
        EXPECT_EQ(smallFast, smallLiteral);
      }
    }
  }
}

TEST_P(FastForms, CoagulationSumsMatchOnRandomStates) {
  const auto [n, cf] = GetParam();
  std::mt19937_64 random(12345 + static_cast<unsigned>(n * 10 + cf));
  std::uniform_real_distribution<double> exponent(-5.0, 20.0);
  std::uniform_int_distribution<int> kind(0, 9);
  for (int first : {1, 2}) {
    BothForms forms(n, cf, first);
    auto& [g, fast, literal, a, b] = forms;
    fast.fillKernel(1200.0, a);
    literal.fillKernel(1200.0, b);
    const auto size = static_cast<std::size_t>(g.grid.capacity);
    for (int trial = 0; trial < 60; ++trial) {
      std::vector<double> N(size, 0.0);
      for (int k = 1; k <= n; ++k) {
        const int c = kind(random);
        N[k] = c == 0 ? 0.0 : c == 1 ? -0.0 : c == 2 ? -std::pow(10.0, exponent(random))
                                                       : std::pow(10.0, exponent(random));
      }
      // Real states are often empty above some node, and below the smallest nucleated
      // size; the same empty ends come back in later trials.
      if (trial % 3 == 1)
        for (int k = 1 + trial % n; k <= n; ++k) N[k] = 0.0;
      if (trial % 3 == 2 || trial % 4 == 1)
        for (int k = 1; k <= std::min(n, first + trial % 7); ++k) N[k] = 0.0;
      // Some states carry a value that has left the finite range.
      if (trial % 10 == 7) N[1 + trial % n] = std::numeric_limits<double>::infinity();
      if (trial % 10 == 9) N[1 + (trial / 10) % n] = std::nan("");
      std::vector<double> gf(size, 0.0), lf(size, 0.0), gl(size, 0.0), ll(size, 0.0);
      fast.coagulation(N, a, gf, lf);
      literal.coagulation(N, b, gl, ll);
      expectSameBits(gf, gl, first, n, "gain");
      // The loss of an empty node may be left 0 (it only enters as N_k L_k): compare the
      // losses of occupied nodes, and the rate 0.5 G_k - N_k L_k of every node.
      std::vector<double> lossFast = lf, rateFast(size, 0.0), rateLiteral(size, 0.0);
      for (int k = first; k <= n; ++k) {
        if (N[k] == 0.0) lossFast[k] = ll[k];
        rateFast[k] = 0.5 * gf[k] - N[k] * lf[k];
        rateLiteral[k] = 0.5 * gl[k] - N[k] * ll[k];
      }
      expectSameBits(lossFast, ll, first, n, "loss of an occupied node");
      expectSameBits(rateFast, rateLiteral, first, n, "coagulation rate");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(NodeCountsAndKernels, FastForms,
                         ::testing::Combine(::testing::Values(3, 4, 5, 9, 14, 26, 42, 48, 60),
                                            ::testing::Values(1, 2)));

// The largest grid the engine serves: the packed places of the gain terms reach their
// widest here. A few states, as the straightforward sums take n^3 steps.
TEST(FastForms, LargestGridMatchesBitForBit) {
  const int n = FastPassKernels::kMostNodes;
  Grid g(n, 1, 8.3e-29);  // one split operator of half a gigabyte for every case
  CollisionKernel a = makeCollisionKernel(g.grid.capacity);
  CollisionKernel b = makeCollisionKernel(g.grid.capacity);
  for (int cf : {1, 2}) {
    for (int first : {1, 2}) {
      g.settings.collisionFunction = cf;
      FastPassKernels fast;
      LiteralPassKernels literal;
      fast.prepare(engineSetupOf(g.settings, first), g.grid, &g.split, n);
      literal.prepare(engineSetupOf(g.settings, first), g.grid, &g.split, n);
      const double T = 1100.0;
      fast.fillKernel(T, a);
      literal.fillKernel(T, b);
      CollisionKernel full = makeCollisionKernel(g.grid.capacity);
      fast.writeFullTable(full);
      for (int i = 1; i <= n; ++i)
        expectSameBits(full.beta, b.beta, g.grid.capacity * i + 1, g.grid.capacity * i + n,
                       "table entry");
      const auto size = static_cast<std::size_t>(g.grid.capacity);
      std::mt19937_64 random(400 + static_cast<unsigned>(cf * 2 + first));
      std::uniform_real_distribution<double> exponent(0.0, 18.0);
      for (int trial = 0; trial < 2; ++trial) {
        // Every node occupied (the top groups' terms, whose places are the largest, all
        // read occupied nodes); then occupied only from node 150 to 330.
        std::vector<double> N(size, 0.0);
        for (int k = 1; k <= n; ++k) N[k] = std::pow(10.0, exponent(random));
        if (trial == 1)
          for (int k = 1; k <= n; ++k)
            if (k < 150 || k > 330) N[k] = 0.0;
        // Fresh fills, so the Fuchs pairs on demand start from each state.
        fast.fillKernel(T, a);
        literal.fillKernel(T, b);
        std::vector<double> gf(size, 0.0), lf(size, 0.0), gl(size, 0.0), ll(size, 0.0);
        fast.coagulation(N, a, gf, lf);
        literal.coagulation(N, b, gl, ll);
        expectSameBits(gf, gl, first, n, "gain");
        for (int k = first; k <= n; ++k)
          if (N[k] == 0.0) lf[k] = ll[k];  // an empty node's loss may be left 0
        expectSameBits(lf, ll, first, n, "loss of an occupied node");
      }
    }
  }
}

// A call out of order would read a table that is stale or only partly formed: refused.
TEST(FastForms, CallsOutOfOrderAreRefused) {
  Grid g(26, 2, 8.3e-29);
  std::vector<double> N(static_cast<std::size_t>(g.grid.capacity), 1e10), gain(N), loss(N);
  CollisionKernel kernel = makeCollisionKernel(g.grid.capacity);
  FastPassKernels fast;
  EXPECT_THROW(fast.fillKernel(900.0, kernel), std::logic_error);
  EXPECT_THROW(fast.prepare(engineSetupOf(g.settings, 2), g.grid, &g.split, 2),
               std::invalid_argument);
  EXPECT_THROW(
      fast.prepare(engineSetupOf(g.settings, 2), g.grid, &g.split, FastPassKernels::kMostNodes + 1),
      std::invalid_argument);
  EXPECT_THROW(fast.prepare(engineSetupOf(g.settings, 2), g.grid, &g.split, 49),
               std::invalid_argument)
      << "tables of 50 have no room for node 50, the guard of 49 nodes";
  EXPECT_THROW(fast.prepare(engineSetupOf(g.settings, 3), g.grid, &g.split, 26),
               std::invalid_argument);
  fast.prepare(engineSetupOf(g.settings, 2), g.grid, &g.split, 26);
  EXPECT_THROW(fast.coagulation(N, kernel, gain, loss), std::logic_error);
  fast.fillKernel(900.0, kernel);
  fast.coagulation(N, kernel, gain, loss);
  // A monomer row alone leaves the coagulation table of the earlier temperature behind.
  fast.fillMonomerRow(800.0, kernel);
  EXPECT_THROW(fast.coagulation(N, kernel, gain, loss), std::logic_error);
  EXPECT_THROW(fast.writeFullTable(kernel), std::logic_error);
  // Without a split operator there is nothing to coagulate.
  fast.prepare(engineSetupOf(g.settings, 2), g.grid, nullptr, 26);
  fast.fillKernel(900.0, kernel);
  EXPECT_THROW(fast.coagulation(N, kernel, gain, loss), std::logic_error);
}

TEST(FastForms, GrowthRatesMatchOnRandomStates) {
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> exponent(0.0, 22.0);
  for (int n : {3, 8, 26, 48}) {
    Grid g(n, 1, 8.3e-29);
    FastPassKernels fast;
    LiteralPassKernels literal;
    fast.prepare(engineSetupOf(g.settings, 2), g.grid, nullptr, n);
    literal.prepare(engineSetupOf(g.settings, 2), g.grid, nullptr, n);
    CollisionKernel kernel = makeCollisionKernel(g.grid.capacity);
    literal.fillMonomerRow(900.0, kernel);
    const auto size = static_cast<std::size_t>(g.grid.capacity);
    for (int trial = 0; trial < 40; ++trial) {
      std::vector<double> N(size, 0.0);
      for (int k = 1; k <= n; ++k)
        N[k] = trial % 3 == 0 && k > 1 ? 0.0 : std::pow(10.0, exponent(random));
      const GrowthInputs in{n, &g.grid.volume, &N, &kernel.beta[kernel.index(1, 0)], 0.3, 1e18,
                            900.0, 0.1, 2000.0, trial != 5};
      std::vector<double> df(size, 0.0), dl(size, 0.0), kf(size, 0.0), kl(size, 0.0);
      GrowthRates rf = makeGrowthRates(g.grid.capacity), rl = makeGrowthRates(g.grid.capacity);
      fast.growth(in, df, kf, rf);
      literal.growth(in, dl, kl, rl);
      expectSameBits(df, dl, 1, n, "diameter");
      expectSameBits(kf, kl, 1, n, "Kelvin concentration");
      expectSameBits(rf.growthGain, rl.growthGain, 2, n, "growth gain");
      expectSameBits(rf.growthLoss, rl.growthLoss, 2, n, "growth loss");
      const std::vector<double> sumsFast{rf.monomerUptake, rf.monomerRelease};
      const std::vector<double> sumsLiteral{rl.monomerUptake, rl.monomerRelease};
      expectSameBits(sumsFast, sumsLiteral, 0, 1, "monomer uptake and release");
    }
  }
}

// Real runs stepped side by side: every pass leaves the same state in both.
TEST(FastForms, NucleationRunsStaySameBitForBit) {
  for (bool growth : {false, true}) {
    for (int cf : {1, 2}) {
      for (int n : {6, 20, 48}) {
        RunSettings s = settingsFor(n, growth ? 3 : 2, cf);
        FastPassKernels fk;
        LiteralPassKernels lk;
        NucleationRun fast(s, growth, fk);
        NucleationRun literal(s, growth, lk);
        for (int pass = 0; pass < 1500 && fast.T > 300.0; ++pass) {
          fast.beginPass();
          literal.beginPass();
          fast.finishPass();
          literal.finishPass();
          expectSameBits(fast.N, literal.N, 1, n, growth ? "process 3" : "process 2");
          ASSERT_EQ(fast.T, literal.T);
        }
        EXPECT_GT(fast.totalNumber, 0.0) << "the run should have nucleated by then";
      }
    }
  }
}

TEST(FastForms, CoagulationAndSeededRunsStaySameBitForBit) {
  for (int cf : {1, 2}) {
    RunSettings s = settingsFor(26, 1, cf);
    s.startTemperature = 300.0;
    FastPassKernels fk;
    LiteralPassKernels lk;
    CoagulationRun fast(s, 1.0, 1e20, fk);
    CoagulationRun literal(s, 1.0, 1e20, lk);
    for (int step = 0; step < 300; ++step) {
      fast.step();
      literal.step();
      expectSameBits(fast.N, literal.N, 1, 26, "process 1");
      ASSERT_EQ(fast.dt, literal.dt);
    }
  }
  RunSettings s = settingsFor(26, 4, 1);
  s.startTemperature = 700.0;
  s.coolingRate = 4e5;
  FastPassKernels fk;
  LiteralPassKernels lk;
  SeededGrowthRun fast(s, 10, 1e12, fk);
  SeededGrowthRun literal(s, 10, 1e12, lk);
  for (int step = 0; step < 3000; ++step) {
    fast.beginStep();
    literal.beginStep();
    fast.finishStep();
    literal.finishStep();
    expectSameBits(fast.N, literal.N, 1, 26, "process 4");
  }
}

}  // namespace
}  // namespace aerosol
