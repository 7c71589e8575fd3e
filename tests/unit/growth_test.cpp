// Surface growth operator: condensation and evaporation between neighbouring nodes with the
// Kelvin effect, and the monomers taken up and given off.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "growth/growth.h"

namespace aerosol {
namespace {

// An 8-node grid with spacing 100 (exact powers) and a vapour whose Kelvin concentration
// crosses N1 = 1e20 between nodes 3 and 4: nodes 2 and 3 evaporate, nodes 4..8 grow.
struct GrowthCase {
  static constexpr int n = 8;
  double v1 = 8.3022e-29;
  std::vector<double> v = std::vector<double>(50, 0.0);
  std::vector<double> N = std::vector<double>(50, 0.0);
  std::vector<double> beta = std::vector<double>(50, 0.0);
  std::vector<double> d = std::vector<double>(50, 0.0);
  std::vector<double> Ks = std::vector<double>(50, 0.0);
  GrowthRates rates = makeGrowthRates(50);
  double sigma = 0.3, ns = 6.5e19, T = 1000.0, M = 0.1, rho = 2000.0;
  bool on = true;

  GrowthCase() {
    v[1] = v1;
    for (int k = 2; k <= n + 1; ++k) v[k] = std::pow(100.0, k - 1) * v1;
    for (int k = 1; k <= n; ++k) beta[k] = 1e-16 * k;
    N[1] = 1e20;
  }
  // Kelvin concentration of node k, from its own formula.
  double kelvin(int k) const {
    const double dk = std::pow(v[k] * 6.0 / 3.1415926, 0.333333);
    return ns * std::exp(sigma * M * 4.0 / (T * rho * dk * 8.314));
  }
  void run() {
    for (int k = 0; k < 50; ++k) {
      rates.growthGain[k] = -99.0;
      rates.growthLoss[k] = -99.0;
    }
    rates.monomerUptake = -99.0;
    rates.monomerRelease = -99.0;
    const GrowthInputs in{n, &v, &N, beta.data(), sigma, ns, T, M, rho, on};
    computeGrowthRates(in, d, Ks, rates);
  }
  // Every gain and loss of nodes 2..n is zero except the listed ones.
  void expectZeroExcept(std::vector<int> gains, std::vector<int> losses) const {
    for (int k = 2; k <= n; ++k) {
      bool g = false, l = false;
      for (int x : gains) g = g || x == k;
      for (int x : losses) l = l || x == k;
      if (!g) {
        EXPECT_EQ(rates.growthGain[k], 0.0) << "gain " << k;
      }
      if (!l) {
        EXPECT_EQ(rates.growthLoss[k], 0.0) << "loss " << k;
      }
    }
  }
};

void expectRelative(double actual, double expected, double tolerance = 1e-13) {
  EXPECT_NEAR(actual / expected, 1.0, tolerance) << actual << " vs " << expected;
}

TEST(GrowthOperator, HandComputedMixedGrowthAndEvaporation) {
  // Node 3 evaporates into node 2, node 5 grows into node 6, node 8 (top) would grow but
  // does not. Expected values computed separately in double precision.
  GrowthCase c;
  c.N[3] = 1e12;
  c.N[5] = 3e11;
  c.N[8] = 5e10;
  c.run();
  expectRelative(c.Ks[3], 1.2069426417874698e+20, 1e-14);
  expectRelative(c.Ks[4], 7.4270935155813761e+19, 1e-14);
  expectRelative(c.Ks[5], 6.689424327522857e+19, 1e-14);
  const double evaporating = 627098914507.48425;  // (v1/(v3-v2)) b3 (Ks3-N1) N3
  const double growing = 501602.37461774895;      // (v1/(v6-v5)) b5 (N1-Ks5) N5
  expectRelative(c.rates.growthLoss[3], evaporating);
  expectRelative(c.rates.growthGain[2], evaporating);
  expectRelative(c.rates.growthLoss[5], growing);
  expectRelative(c.rates.growthGain[6], growing);
  expectRelative(c.rates.monomerRelease, 6208279253624095.0);  // (Ks3-N1) b3 N3
  expectRelative(c.rates.monomerUptake, 4965863508715715.0);   // (N1-Ks5) b5 N5
  c.expectZeroExcept({2, 6}, {3, 5});
}

TEST(GrowthOperator, KelvinConcentrationFallsWithSize) {
  GrowthCase c;
  c.d[c.n + 1] = -7.0;
  c.Ks[c.n + 1] = 0.0;
  c.run();
  for (int k = 1; k <= c.n; ++k) {
    expectRelative(c.Ks[k], c.kelvin(k), 1e-15);
    expectRelative(c.d[k], std::pow(c.v[k] * 6.0 / 3.1415926, 0.333333), 1e-15);
    EXPECT_GT(c.Ks[k], c.ns);
    if (k > 1) {
      EXPECT_LT(c.Ks[k], c.Ks[k - 1]) << k;
    }
  }
  // The guard slots are left alone.
  EXPECT_EQ(c.d[c.n + 1], -7.0);
  EXPECT_EQ(c.Ks[c.n + 1], 0.0);
}

TEST(GrowthOperator, SingleNodeGrowsIntoTheNextWithExactFlux) {
  for (int j : {4, 6, 7}) {
    SCOPED_TRACE(j);
    GrowthCase c;
    c.N[j] = 2.5e13;
    c.run();
    const double Ks = c.kelvin(j);
    ASSERT_LT(Ks, c.N[1]);
    const double monomers = c.beta[j] * (c.N[1] - Ks) * c.N[j];
    const double moved = c.v1 / (c.v[j + 1] - c.v[j]) * monomers;
    expectRelative(c.rates.growthLoss[j], moved);
    expectRelative(c.rates.growthGain[j + 1], moved);
    expectRelative(c.rates.monomerUptake, monomers);
    EXPECT_EQ(c.rates.monomerRelease, 0.0);
    c.expectZeroExcept({j + 1}, {j});
    // Bookkeeping: the particles moved times the volume step is the monomer volume taken.
    expectRelative(c.rates.growthLoss[j] * (c.v[j + 1] - c.v[j]),
                   c.v1 * c.rates.monomerUptake);
  }
}

TEST(GrowthOperator, EvaporationOutOfNodeTwoReleasesItsMonomers) {
  GrowthCase c;
  c.N[2] = 4e14;
  c.run();
  const double Ks2 = c.kelvin(2);
  ASSERT_GT(Ks2, c.N[1]);
  const double monomers = c.beta[2] * (Ks2 - c.N[1]) * c.N[2];
  expectRelative(c.rates.growthLoss[2], c.v1 / (c.v[2] - c.v1) * monomers);
  expectRelative(c.rates.monomerRelease, monomers);
  EXPECT_EQ(c.rates.monomerUptake, 0.0);
  // The particles leave the grid: no node gains.
  c.expectZeroExcept({}, {2});
}

TEST(GrowthOperator, EvaporationIntoTheNodeBelowCountsItsMonomersOnce) {
  GrowthCase c;
  c.N[3] = 1e12;
  c.run();
  const double monomers = c.beta[3] * (c.kelvin(3) - c.N[1]) * c.N[3];
  expectRelative(c.rates.monomerRelease, monomers);
  EXPECT_EQ(c.rates.growthLoss[3], c.rates.growthGain[2]);
  expectRelative(c.rates.growthLoss[3] * (c.v[3] - c.v[2]), c.v1 * monomers);
}

TEST(GrowthOperator, NodeAtItsKelvinConcentrationExchangesNothing) {
  GrowthCase c;
  c.N[4] = 1e15;
  c.run();  // to learn Ks[4] as the operator forms it
  c.N[1] = c.Ks[4];
  c.run();
  c.expectZeroExcept({}, {});
  EXPECT_EQ(c.rates.monomerUptake, 0.0);
  EXPECT_EQ(c.rates.monomerRelease, 0.0);
}

TEST(GrowthOperator, TopNodeNeitherGrowsNorTakesUpMonomers) {
  GrowthCase c;
  c.N[1] = 1e22;  // above every particle node's Kelvin concentration
  c.N[c.n] = 1e15;
  c.run();
  c.expectZeroExcept({}, {});
  EXPECT_EQ(c.rates.monomerUptake, 0.0);
  EXPECT_EQ(c.rates.monomerRelease, 0.0);
}

TEST(GrowthOperator, NoParticlesNoRates) {
  GrowthCase c;
  c.run();
  c.expectZeroExcept({}, {});
  EXPECT_EQ(c.rates.monomerUptake, 0.0);
  EXPECT_EQ(c.rates.monomerRelease, 0.0);
}

TEST(GrowthOperator, SwitchedOffExchangesNothing) {
  GrowthCase c;
  for (int k = 2; k <= c.n; ++k) c.N[k] = 1e14;
  c.on = false;
  c.run();
  c.expectZeroExcept({}, {});
  EXPECT_EQ(c.rates.monomerUptake, 0.0);
  EXPECT_EQ(c.rates.monomerRelease, 0.0);
  // The Kelvin concentrations are still formed.
  expectRelative(c.Ks[5], c.kelvin(5), 1e-15);
  c.on = true;
  c.run();
  EXPECT_GT(c.rates.monomerUptake, 0.0);
  EXPECT_GT(c.rates.monomerRelease, 0.0);
}

TEST(GrowthOperator, NotANumberVapourExchangesNothing) {
  GrowthCase c;
  for (int k = 2; k <= c.n; ++k) c.N[k] = 1e14;
  c.N[1] = std::nan("");
  c.run();
  c.expectZeroExcept({}, {});
  EXPECT_EQ(c.rates.monomerUptake, 0.0);
  EXPECT_EQ(c.rates.monomerRelease, 0.0);
}

TEST(GrowthOperator, ExchangesBetweenParticleNodesConserveNumberAndVolume) {
  // Nodes 3..n populated, some evaporating and some growing: every particle that leaves a
  // node arrives at a neighbour (none leaves the grid from node 2, which is empty), and the
  // particle volume changes by exactly v_1 times the net monomers taken up.
  for (double N1 : {1e20, 1.1e20, 7e19, 6.6e19}) {
    SCOPED_TRACE(N1);
    GrowthCase c;
    c.N[1] = N1;
    for (int k = 3; k <= c.n; ++k) c.N[k] = 1e13 / k + 3e11 * (k % 2);
    c.run();
    double gains = 0.0, losses = 0.0, volumeChange = 0.0, volumeScale = 0.0;
    for (int k = 2; k <= c.n; ++k) {
      gains += c.rates.growthGain[k];
      losses += c.rates.growthLoss[k];
      volumeChange += c.v[k] * (c.rates.growthGain[k] - c.rates.growthLoss[k]);
      volumeScale += c.v[k] * (c.rates.growthGain[k] + c.rates.growthLoss[k]);
      EXPECT_GE(c.rates.growthGain[k], 0.0);
      EXPECT_GE(c.rates.growthLoss[k], 0.0);
    }
    ASSERT_GT(losses, 0.0);
    EXPECT_NEAR(gains / losses, 1.0, 1e-13);
    const double monomerVolume = c.v1 * (c.rates.monomerUptake - c.rates.monomerRelease);
    EXPECT_LT(std::fabs(volumeChange - monomerVolume) / volumeScale, 1e-13);
  }
}

}  // namespace
}  // namespace aerosol
