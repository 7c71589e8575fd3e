// Surface growth operator: the Kelvin concentration against the Kelvin equation and against
// the critical cluster of nucleation, the exchange of monomers and particles between
// neighbouring nodes against kinetic bookkeeping, and the conservation of volume.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "growth/growth.h"
#include "nucleation/nucleation.h"
#include "processes/run_settings.h"
#include "support/closed_forms.h"
#include "support/example_material.h"

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
  // No node gains or loses, and no monomer is taken up or given off.
  void expectNoExchange() const {
    for (int k = 2; k <= n; ++k) {
      EXPECT_EQ(rates.growthGain[k], 0.0) << "gain " << k;
      EXPECT_EQ(rates.growthLoss[k], 0.0) << "loss " << k;
    }
    EXPECT_EQ(rates.monomerUptake, 0.0);
    EXPECT_EQ(rates.monomerRelease, 0.0);
  }
};

TEST(GrowthOperator, KelvinConcentrationIsTheKelvinEquation) {
  // The Kelvin exponent ln(Ks/ns) against the equation with exact constants and the sphere's
  // exact diameter: the stored decimals (R = 8.314, the cube root 0.333333) move it by under
  // 1e-4 of itself.
  for (double sigma : {0.3, 0.05}) {
    GrowthCase c;
    c.sigma = sigma;
    c.run();
    for (int k = 1; k <= c.n; ++k) {
      const double dk = closed::sphereDiameter(c.v[k]);
      const double exponent =
          std::log(closed::kelvinConcentration(c.ns, sigma, c.M, c.rho, c.T, dk) / c.ns);
      EXPECT_NEAR(std::log(c.Ks[k] / c.ns) / exponent, 1.0, 2e-4) << "node " << k;
      EXPECT_NEAR(c.d[k] / dk, 1.0, 1e-4) << "node " << k;
    }
  }
}

TEST(GrowthOperator, VapourIsInEquilibriumWithTheCriticalCluster) {
  // The Kelvin equation read backwards is nucleation's critical diameter: over a droplet of
  // d* the equilibrium concentration is the vapour's own, S ns. The growth operator at a node
  // of diameter d* must give Ks = S ns, to the stored constants' k N_A / R - 1 = -3.6e-4 in
  // the exponent ln S.
  const RunSettings s = exampleMaterial(26, 3, 1);
  const MaterialProperties material = materialOf(s);
  const MonomerProperties monomer = computeMonomerProperties(s.density, s.monomerVolume);
  for (double T : {700.0, 1500.0})
    for (double S : {1.5, 5.0, 40.0}) {
      NucleationState sat;
      computeSaturation(material, s.pressure, T, sat);
      const NucleationState st =
          computeNucleationState(material, s.pressure, monomer, T, S * sat.saturationConcentration);
      std::vector<double> v(50), N(50, 0.0), beta(50, 0.0), Ks(50, 0.0);
      std::vector<double> d(50, st.criticalDiameter);
      for (int k = 1; k < 50; ++k) v[static_cast<std::size_t>(k)] = k * s.monomerVolume;
      N[1] = S * sat.saturationConcentration;
      GrowthRates rates = makeGrowthRates(50);
      const GrowthInputs in{5, &v, &N, beta.data(), st.surfaceTension,
                            st.saturationConcentration, T, s.molecularWeight, s.density, true};
      computeGrowthRatesFromDiameters(in, d, Ks, rates);
      EXPECT_NEAR(std::log(Ks[3] / st.saturationConcentration) / std::log(S), 1.0, 4e-4)
          << "T " << T << ", S " << S;
    }
}

TEST(GrowthOperator, ExchangesFollowTheMonomerFluxOfEachNode) {
  // A node j takes up c_j = beta_j (N1 - K_j) N_j monomers per second (gives them off when
  // negative), K_j the operator's Kelvin concentration (checked above). It moves the particles
  // whose volume is those monomers' to its neighbour: |c_j| v_1 / |v_neighbour - v_j| per
  // second, every one arriving there. The top node does not grow; particles that evaporate
  // out of node 2 leave the grid, and their monomers are counted as c_2 only.
  struct Row {
    double N1;
    std::vector<std::pair<int, double>> particles;  // node, concentration
  };
  const Row rows[] = {{1e20, {{3, 1e12}, {5, 3e11}, {8, 5e10}}},
                      {1e20, {{4, 2.5e13}}},
                      {1e20, {{6, 2.5e13}}},
                      {1e20, {{7, 2.5e13}}},
                      {1e20, {{2, 4e14}}},
                      {1e20, {{3, 1e12}}},
                      {1e22, {{8, 1e15}}},
                      {1e20, {}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
    GrowthCase c;
    c.N[1] = row.N1;
    for (const auto& [node, concentration] : row.particles) c.N[node] = concentration;
    c.run();
    std::vector<double> gain(50, 0.0), loss(50, 0.0);
    double uptake = 0.0, release = 0.0;
    for (const auto& [j, Nj] : row.particles) {
      const double flux = c.beta[j] * (c.N[1] - c.Ks[j]) * Nj;
      if (flux > 0.0 && j < c.n) {
        uptake += flux;
        loss[j] += flux * c.v1 / (c.v[j + 1] - c.v[j]);
        gain[j + 1] += flux * c.v1 / (c.v[j + 1] - c.v[j]);
      } else if (flux < 0.0) {
        release -= flux;
        loss[j] -= flux * c.v1 / (c.v[j] - c.v[j - 1]);
        if (j > 2) gain[j - 1] -= flux * c.v1 / (c.v[j] - c.v[j - 1]);
      }
    }
    for (int k = 2; k <= c.n; ++k) {
      EXPECT_NEAR(c.rates.growthGain[k], gain[k], 1e-13 * gain[k]) << "gain " << k;
      EXPECT_NEAR(c.rates.growthLoss[k], loss[k], 1e-13 * loss[k]) << "loss " << k;
    }
    EXPECT_NEAR(c.rates.monomerUptake, uptake, 1e-13 * uptake);
    EXPECT_NEAR(c.rates.monomerRelease, release, 1e-13 * release);
  }
}

TEST(GrowthOperator, NodeAtItsKelvinConcentrationExchangesNothing) {
  GrowthCase c;
  c.N[4] = 1e15;
  c.run();  // to learn Ks[4] as the operator forms it
  c.N[1] = c.Ks[4];
  c.run();
  c.expectNoExchange();
}

TEST(GrowthOperator, SwitchedOffOrNotANumberVapourExchangesNothing) {
  GrowthCase c;
  for (int k = 2; k <= c.n; ++k) c.N[k] = 1e14;
  c.run();
  ASSERT_GT(c.rates.monomerUptake, 0.0);
  ASSERT_GT(c.rates.monomerRelease, 0.0);
  const std::vector<double> kelvin = c.Ks;
  for (bool nanVapour : {false, true}) {
    SCOPED_TRACE(nanVapour ? "vapour not a number" : "switched off");
    GrowthCase off = c;
    off.on = nanVapour;
    if (nanVapour) off.N[1] = std::nan("");
    off.run();
    off.expectNoExchange();
    // The Kelvin concentrations are still formed.
    EXPECT_EQ(off.Ks[5], kelvin[5]);
  }
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
    EXPECT_NEAR(gains / losses, 1.0, 1e-14);
    const double monomerVolume = c.v1 * (c.rates.monomerUptake - c.rates.monomerRelease);
    EXPECT_LT(std::fabs(volumeChange - monomerVolume) / volumeScale, 1e-14);
  }
}

}  // namespace
}  // namespace aerosol
