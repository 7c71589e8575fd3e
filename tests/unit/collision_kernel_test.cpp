// Collision frequency function: both regimes, the smallest entry, the monomer row.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "processes/run_settings.h"
#include "support/closed_forms.h"

namespace aerosol {
namespace {

RunSettings airLike(int collisionFunction) {
  RunSettings s;
  s.nodeCount = 12;
  s.pressure = 1.0;
  s.density = 2000.0;
  s.collisionFunction = collisionFunction;
  s.sutherlandA = 1.458e-6;
  s.sutherlandB = 110.4;
  s.spacingFactor = std::pow(10.0, 12.0 / 10.0);
  return s;
}

NodeGrid gridFor(const RunSettings& s, double v1) {
  NodeGrid grid = makeNodeGrid(50);
  buildNodeGrid(grid, v1, s.spacingFactor, s.density, s.nodeCount, kThirdSeven);
  return grid;
}

TEST(CollisionKernel, BothFormsAreSymmetric) {
  for (int form : {1, 2}) {
    SCOPED_TRACE(form);
    const RunSettings s = airLike(form);
    const NodeGrid grid = gridFor(s, 5.2e-28);
    CollisionKernel kernel = makeCollisionKernel(50);
    computeCollisionKernel(750.0, collisionModelOf(s), grid, s.nodeCount,
                           kernel);
    for (int i = 1; i <= s.nodeCount; ++i)
      for (int j = 1; j <= s.nodeCount; ++j) {
        EXPECT_GT(kernel.at(i, j), 0.0);
        EXPECT_EQ(kernel.at(i, j), kernel.at(j, i)) << i << "," << j;
      }
  }
}

TEST(CollisionKernel, FreeMolecularIsKineticTheory) {
  // Cross-section times mean relative speed with exact constants, monomers to 30 nm, two
  // temperatures: the stored decimals change it by < 1e-3.
  const RunSettings s = airLike(1);
  for (double T : {300.0, 1234.5}) {
    const NodeGrid grid = gridFor(s, 8.3022e-29);
    CollisionKernel kernel = makeCollisionKernel(50);
    computeCollisionKernel(T, collisionModelOf(s), grid, s.nodeCount, kernel);
    for (int i : {1, 4, 9})
      for (int j : {1, 2, 12}) {
        const double expected =
            closed::freeMolecularKernel(T, s.density, grid.volume[i], grid.volume[j]);
        EXPECT_NEAR(kernel.at(i, j) / expected, 1.0, 1e-3) << i << "," << j << ", T " << T;
      }
  }
}

TEST(CollisionKernel, SmallestEntryIsCappedAtOneNanoCubicMetrePerSecond) {
  const RunSettings s = airLike(1);
  CollisionKernel kernel = makeCollisionKernel(50);
  // Ordinary nanometre particles: every entry is far below 1e-9 and the smallest is returned.
  const NodeGrid grid = gridFor(s, 1e-27);
  const double smallest = computeCollisionKernel(300.0, collisionModelOf(s),
                                                 grid, s.nodeCount, kernel);
  double minimum = INFINITY;
  for (int i = 1; i <= s.nodeCount; ++i)
    for (int j = 1; j <= s.nodeCount; ++j) minimum = std::fmin(minimum, kernel.at(i, j));
  ASSERT_LT(minimum, 1e-9);
  EXPECT_EQ(smallest, minimum);

  // A very light material makes every entry exceed 1e-9: the cap is returned.
  RunSettings light = s;
  light.density = 1e-12;
  const NodeGrid lightGrid = gridFor(light, 1e-27);
  const double capped =
      computeCollisionKernel(300.0, collisionModelOf(light),
                             lightGrid, light.nodeCount, kernel);
  double lightMinimum = INFINITY;
  for (int i = 1; i <= light.nodeCount; ++i)
    for (int j = 1; j <= light.nodeCount; ++j)
      lightMinimum = std::fmin(lightMinimum, kernel.at(i, j));
  ASSERT_GE(lightMinimum, 1e-9);
  EXPECT_EQ(capped, 1e-9);
}

TEST(CollisionKernel, FillWritesOnlyNodesOneToN) {
  for (int form : {1, 2}) {
    const RunSettings s = airLike(form);
    const NodeGrid grid = gridFor(s, 1e-27);
    CollisionKernel kernel = makeCollisionKernel(50);
    for (double& b : kernel.beta) b = -4.25;
    computeCollisionKernel(300.0, collisionModelOf(s), grid, s.nodeCount,
                           kernel);
    for (int i = 0; i < 50; ++i)
      for (int j = 0; j < 50; ++j) {
        const bool inside = i >= 1 && j >= 1 && i <= s.nodeCount && j <= s.nodeCount;
        if (!inside) {
          ASSERT_EQ(kernel.at(i, j), -4.25) << i << "," << j;
        }
      }
  }
}

TEST(CollisionKernel, FuchsFormTendsToFreeMolecularForLargeKnudsenNumbers) {
  // At a thousandth of an atmosphere the gas mean free path is ~0.1 mm: nanometre particles
  // have Knudsen numbers of 1e4 to 1e5 and the Fuchs form must agree with the free
  // molecular one.
  RunSettings fuchs = airLike(2);
  fuchs.nodeCount = 8;
  fuchs.spacingFactor = std::pow(10.0, 12.0 / 6.0);
  fuchs.pressure = 1e-3;
  RunSettings free = fuchs;
  free.collisionFunction = 1;
  const NodeGrid grid = gridFor(fuchs, 1e-27);  // 1.24 nm seeds; node 3 is ~27 nm
  CollisionKernel a = makeCollisionKernel(50), b = makeCollisionKernel(50);
  computeCollisionKernel(300.0, collisionModelOf(fuchs), grid, 3,
                         a);
  computeCollisionKernel(300.0, collisionModelOf(free), grid, 3, b);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(a.at(i, j) / b.at(i, j), 1.0, 2e-3) << i << "," << j;

  // At one atmosphere micrometre particles are in the continuum regime: the Fuchs form
  // falls far below the free molecular one.
  fuchs.pressure = 1.0;
  computeCollisionKernel(300.0, collisionModelOf(fuchs), grid, 8,
                         a);
  computeCollisionKernel(300.0, collisionModelOf(free), grid, 8, b);
  ASSERT_GT(grid.diameter[6], 1e-6);
  EXPECT_LT(a.at(6, 6), 0.1 * b.at(6, 6));
}

TEST(CollisionKernel, FuchsContinuumLimitIsBrownianDiffusion) {
  // Equal large particles in dense gas: beta -> 8kT/(3 mu), up to the slip and transition
  // corrections, which are a few tenths of a percent here.
  RunSettings s = airLike(2);
  s.nodeCount = 5;
  s.spacingFactor = std::pow(10.0, 12.0 / 3.0);
  s.pressure = 100.0;  // mean free path ~0.7 nm
  const double T = 300.0;
  const NodeGrid grid = gridFor(s, 1e-24);  // node 4 is ~12 micrometres
  CollisionKernel kernel = makeCollisionKernel(50);
  computeCollisionKernel(T, collisionModelOf(s), grid, s.nodeCount, kernel);
  const double mu = std::pow(T, 1.5) * s.sutherlandA / (s.sutherlandB + T);
  EXPECT_NEAR(kernel.at(4, 4) / closed::continuumEqualKernel(T, mu), 1.0, 1e-2);
}

TEST(CollisionKernel, MeanFreePathOfAirIsTheTextbookOne) {
  // Air (M = 0.02897 kg/mol, Sutherland's 1.458e-6 and 110.4 K) at 300 K and 1 atm: about
  // 66-68 nm in the aerosol textbooks.
  CarrierGasProperties air;
  air.sutherlandA = 1.458e-6;
  air.sutherlandB = 110.4;
  air.molarMass = 0.02897;
  const double lambda = carrierGas(300.0, air).meanFreePath;
  EXPECT_GT(lambda, 66e-9);
  EXPECT_LT(lambda, 68e-9);
}

TEST(CollisionKernel, MonomerRowIsRowOneOfTheFreeMolecularFill) {
  for (int form : {1, 2, 5}) {
    const RunSettings s = airLike(form);
    const NodeGrid grid = gridFor(s, 8.3e-29);
    RunSettings free = s;
    free.collisionFunction = 1;
    CollisionKernel full = makeCollisionKernel(50), row = makeCollisionKernel(50);
    computeCollisionKernel(640.0, collisionModelOf(free), grid,
                           s.nodeCount, full);
    for (double& b : row.beta) b = -4.25;
    computeMonomerKernelRow(640.0, collisionModelOf(s), grid, s.nodeCount, row);
    for (int j = 1; j <= s.nodeCount; ++j) EXPECT_EQ(row.at(1, j), full.at(1, j)) << form;
    // Nothing but row 1, columns 1..n, is written.
    for (int i = 0; i < 50; ++i)
      for (int j = 0; j < 50; ++j)
        if (!(i == 1 && j >= 1 && j <= s.nodeCount)) {
          ASSERT_EQ(row.at(i, j), -4.25);
        }
  }
}

}  // namespace
}  // namespace aerosol
