// Coagulation gain and loss per node: conservation of volume and the loss of one particle
// per collision below the top node.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "coagulation/coagulation_rates.h"
#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "processes/run_settings.h"

namespace aerosol {
namespace {

struct CoagulationCase {
  int n;
  NodeGrid grid;
  SplitOperator split;
  CollisionKernel kernel;
  std::vector<double> gain, loss;
};

CoagulationCase makeCase(int n, int collisionFunction = 1, double v1 = 5.235987e-28) {
  RunSettings s;
  s.nodeCount = n;
  s.pressure = 1.0;
  s.density = 1500.0;
  s.collisionFunction = collisionFunction;
  s.sutherlandA = 1.458e-6;
  s.sutherlandB = 110.4;
  s.spacingFactor = std::pow(10.0, 12.0 / static_cast<double>(n - 2));
  CoagulationCase st{n, makeNodeGrid(50), makeSplitOperator(50), makeCollisionKernel(50),
           std::vector<double>(50, 0.0), std::vector<double>(50, 0.0)};
  buildNodeGrid(st.grid, v1, s.spacingFactor, s.density, n, kThirdSeven);
  buildSplitOperator(st.split, st.grid.volume, n);
  computeCollisionKernel(300.0, collisionModelOf(s), st.grid, n, st.kernel);
  return st;
}

double rate(const CoagulationCase& st, const std::vector<double>& N, int k) {
  return 0.5 * st.gain[k] - N[k] * st.loss[k];
}

TEST(CoagulationRates, ConserveParticleVolumeWhenNodeOneCoagulates) {
  for (int form : {1, 2}) {
    for (int n : {3, 8, 20, 45}) {
      SCOPED_TRACE(::testing::Message() << "form " << form << " n=" << n);
      CoagulationCase st = makeCase(n, form);
      std::vector<double> N(50, 0.0);
      // Every node populated, the top node included, with a spread of magnitudes.
      for (int k = 1; k <= n; ++k) N[k] = 1e18 / (1.0 + 3.0 * k) * (k % 3 == 0 ? 0.01 : 1.0);
      coagulationRates(N, st.split, st.kernel, n, 1, st.gain, st.loss);
      double net = 0.0, scale = 0.0;
      for (int k = 1; k <= n; ++k) {
        const double v = st.grid.volume[k];
        net += v * rate(st, N, k);
        scale += v * (0.5 * st.gain[k] + N[k] * st.loss[k]);
      }
      ASSERT_GT(scale, 0.0);
      EXPECT_LT(std::fabs(net) / scale, 2e-14);  // measured 1.7e-16
    }
  }
}

TEST(CoagulationRates, EveryCollisionBelowTheTopNodeRemovesOneParticle) {
  const int n = 12;  // spacing 10^1.2: pairs of nodes 1..5 stay far below node 12
  CoagulationCase st = makeCase(n);
  std::vector<double> N(50, 0.0);
  const double populated[] = {0.0, 4e17, 1e17, 3e16, 2e15, 7e14};
  for (int k = 1; k <= 5; ++k) N[k] = populated[k];
  ASSERT_LT(2.0 * st.grid.volume[5], st.grid.volume[n]);
  coagulationRates(N, st.split, st.kernel, n, 1, st.gain, st.loss);
  double total = 0.0;
  for (int k = 1; k <= n; ++k) total += rate(st, N, k);
  double collisions = 0.0;  // over ordered pairs
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) collisions += st.kernel.at(i, j) * N[i] * N[j];
  EXPECT_NEAR(total / (-0.5 * collisions), 1.0, 1e-13);  // measured 7e-16
  // Nodes above every product stay untouched.
  for (int k = 8; k <= n; ++k) EXPECT_EQ(rate(st, N, k), 0.0) << k;
}

TEST(CoagulationRates, MonodisperseStart) {
  const int n = 10;
  CoagulationCase st = makeCase(n);
  const std::vector<double>& v = st.grid.volume;
  std::vector<double> N(50, 0.0);
  const double N1 = 1e18;
  N[1] = N1;
  coagulationRates(N, st.split, st.kernel, n, 1, st.gain, st.loss);
  const double b11 = st.kernel.at(1, 1);
  // With a spacing of 10^1.5, 2 v_1 lies between v_1 and v_2.
  const double chi1 = (v[2] - 2.0 * v[1]) / (v[2] - v[1]);
  const double chi2 = v[1] / (v[2] - v[1]);
  EXPECT_NEAR(rate(st, N, 1) / (0.5 * chi1 * b11 * N1 * N1 - b11 * N1 * N1), 1.0, 1e-14);
  EXPECT_NEAR(rate(st, N, 2) / (0.5 * chi2 * b11 * N1 * N1), 1.0, 1e-12);
  for (int k = 3; k <= n; ++k) EXPECT_EQ(rate(st, N, k), 0.0) << k;
  // Number: each collision removes one particle from node 1 and returns a fraction.
  EXPECT_LT(rate(st, N, 1), 0.0);
}

TEST(CoagulationRates, AllZeroStateGivesZeroRates) {
  const int n = 9;
  CoagulationCase st = makeCase(n);
  std::vector<double> N(50, 0.0);
  std::fill(st.gain.begin(), st.gain.end(), 7.0);
  std::fill(st.loss.begin(), st.loss.end(), 7.0);
  coagulationRates(N, st.split, st.kernel, n, 1, st.gain, st.loss);
  for (int k = 1; k <= n; ++k) {
    EXPECT_EQ(st.gain[k], 0.0) << k;
    EXPECT_EQ(st.loss[k], 0.0) << k;
  }
}

TEST(CoagulationRates, VapourNodeTakesNoPartFromNodeTwoOn) {
  const int n = 9;
  CoagulationCase st = makeCase(n, 1, 8.3022e-29);
  std::vector<double> N(50, 0.0);
  for (int k = 2; k <= n; ++k) N[k] = 1e15 * k;
  std::fill(st.gain.begin(), st.gain.end(), -3.0);
  std::fill(st.loss.begin(), st.loss.end(), -3.0);
  N[1] = 0.0;
  coagulationRates(N, st.split, st.kernel, n, 2, st.gain, st.loss);
  const std::vector<double> gainWithout = st.gain, lossWithout = st.loss;
  // A huge monomer concentration changes nothing, and node 1 is neither read nor written.
  N[1] = 1e25;
  coagulationRates(N, st.split, st.kernel, n, 2, st.gain, st.loss);
  EXPECT_EQ(st.gain, gainWithout);
  EXPECT_EQ(st.loss, lossWithout);
  EXPECT_EQ(st.gain[1], -3.0);
  EXPECT_EQ(st.loss[1], -3.0);
}

TEST(CoagulationRates, ProductsCarryTheVolumeOfBothPartnersUpToTheTopNode) {
  // A population in nodes n-1 and n only, most collisions landing at the top node: the
  // products gain the volume of both partners, (v_i + v_j) beta_ij N_i N_j over the ordered
  // pairs halved, whatever the loss terms do.
  const int n = 6;
  CoagulationCase st = makeCase(n);
  const std::vector<double>& v = st.grid.volume;
  std::vector<double> N(50, 0.0);
  N[n - 1] = 2e12;
  N[n] = 5e11;
  coagulationRates(N, st.split, st.kernel, n, 1, st.gain, st.loss);
  double partners = 0.0, products = 0.0;
  for (int i = n - 1; i <= n; ++i)
    for (int j = n - 1; j <= n; ++j)
      partners += 0.5 * (v[i] + v[j]) * st.kernel.at(i, j) * N[i] * N[j];
  for (int k = 1; k <= n; ++k) products += 0.5 * st.gain[k] * v[k];
  EXPECT_NEAR(products / partners, 1.0, 1e-14);
  EXPECT_GT(st.gain[n] * v[n], 0.9 * st.gain[n - 1] * v[n - 1]);
}

}  // namespace
}  // namespace aerosol
