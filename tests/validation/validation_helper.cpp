// Prints figures from the core library that the program's output does not show, for the
// validation scripts to compare with physics worked out independently:
//
//   validation_helper kernel               beta(d, d) of both collision forms, 1 nm .. 10 um,
//                                          as the program's step engine fills its table
//   validation_helper nucleation           classical nucleation at the worked example's state
//   validation_helper volume-drift NODES   largest relative change of the total particle
//                                          volume over a coagulation run (1 nm, 1e20 /m3,
//                                          300 K, 0.01 s), summed in full double precision
//
// Output is "name value" lines (or a table with a header) in full precision.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "coagulation/coagulation_rates.h"
#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "engine/fast_pass_kernels.h"
#include "nucleation/nucleation.h"
#include "processes/run_settings.h"

using namespace aerosol;

namespace {

RunSettings gasSettings(int nodeCount, int collisionFunction) {
  RunSettings s;
  s.nodeCount = nodeCount;
  s.pressure = 1.0;
  s.density = 2000.0;
  s.molecularWeight = 0.1;
  s.collisionFunction = collisionFunction;
  s.sutherlandA = 1.458e-6;  // air
  s.sutherlandB = 110.4;
  s.spacingFactor = std::pow(10.0, 12.0 / static_cast<double>(nodeCount - 2));
  s.monomerVolume = s.molecularWeight / (s.density * 6.0225e23);
  return s;
}

// beta(d, d) on the diagonal of a grid from 1 nm over twelve decades of volume (four of
// diameter), at 300 K and 1 atm in air, for unit-density-2000 particles.
int printKernel() {
  const int n = 62;  // 60 volume steps of 10^0.2 between nodes 1 and n-1: 1 nm .. 10 um
  const double T = 300.0;
  const RunSettings free = gasSettings(n, 1);
  const RunSettings fuchs = gasSettings(n, 2);
  const int capacity = tableCapacity(n);
  NodeGrid grid = makeNodeGrid(capacity);
  const double v1 = std::pow(1.0, 3.0) * (3.1415926 * 1e-27) / 6.0;
  buildNodeGrid(grid, v1, free.spacingFactor, free.density, n, kThirdSeven);
  CollisionKernel betaFree = makeCollisionKernel(capacity);
  CollisionKernel betaFuchs = makeCollisionKernel(capacity);
  for (const auto& [settings, table] :
       {std::pair{&free, &betaFree}, std::pair{&fuchs, &betaFuchs}}) {
    FastPassKernels engine;
    engine.prepare(EngineSetup{collisionModelOf(*settings), 1}, grid, nullptr, n);
    engine.fillKernel(T, *table);
    engine.writeFullTable(*table);
  }
  const double mu = std::pow(T, 1.5) * fuchs.sutherlandA / (fuchs.sutherlandB + T);
  const double lambda = mu / (fuchs.pressure * 101325.0) * std::sqrt(T * 3.1415926 * 8.314 / 0.08);
  std::printf("# T %.17g K, P 1 atm, density 2000 kg/m3, gas mean free path %.17g m\n", T, lambda);
  std::printf("diameter_m\tknudsen\tbeta_free_molecular\tbeta_fuchs\n");
  for (int k = 1; k <= n - 1; ++k)
    std::printf("%.17g\t%.17g\t%.17g\t%.17g\n", grid.diameter[k], 2.0 * lambda / grid.diameter[k],
                betaFree.at(k, k), betaFuchs.at(k, k));
  return 0;
}

// The nucleation model's worked example: M 0.1 kg/mol, rho 2000 kg/m3, sigma = 500 - 0.2 T
// dyne/cm, Ps = exp(10 - 30000/T) atm, 26 nodes, T = 1500 K and S = 5.
int printNucleation() {
  RunSettings s = gasSettings(26, 1);
  s.surfaceTensionA = 500.0;
  s.surfaceTensionB = 0.2;
  s.vaporPressureC = 10.0;
  s.vaporPressureD = 30000.0;
  const double T = 1500.0;
  const MonomerProperties monomer = computeMonomerProperties(s.density, s.monomerVolume);
  NucleationState saturation;
  computeSaturation(materialOf(s), s.pressure, T, saturation);
  const double N1 = 5.0 * saturation.saturationConcentration;
  const NucleationState st = computeNucleationState(materialOf(s), s.pressure, monomer, T, N1);
  const int capacity = tableCapacity(s.nodeCount);
  NodeGrid grid = makeNodeGrid(capacity);
  buildNodeGrid(grid, s.monomerVolume, s.spacingFactor, s.density, s.nodeCount, kThirdSeven);
  std::vector<double> xi(static_cast<std::size_t>(capacity), 0.0);
  computeNucleationFractions(grid.volume, s.nodeCount, st.criticalVolume, xi);
  std::printf("monomerVolume %.17g\n", s.monomerVolume);
  std::printf("monomerArea %.17g\n", monomer.monomerArea);
  std::printf("monomerMass %.17g\n", monomer.monomerMass);
  std::printf("surfaceTension %.17g\n", st.surfaceTension);
  std::printf("saturationPressure %.17g\n", st.saturationPressure);
  std::printf("saturationConcentration %.17g\n", st.saturationConcentration);
  std::printf("saturationRatio %.17g\n", st.saturationRatio);
  std::printf("theta %.17g\n", st.theta);
  std::printf("nucleationRate %.17g\n", st.nucleationRate);
  std::printf("criticalSize %.17g\n", st.criticalSize);
  std::printf("criticalDiameter %.17g\n", st.criticalDiameter);
  std::printf("criticalVolume %.17g\n", st.criticalVolume);
  for (int k = 2; k <= s.nodeCount; ++k)
    if (xi[k] != 0.0) std::printf("fraction %d %.17g\n", k, xi[k]);
  return 0;
}

// The coagulation run of process 1 with the library's operators, watching the sum of
// N_k v_k over nodes 1..n at full precision rather than as printed.
int printVolumeDrift(int n) {
  if (n < kMinNodeCount || n > kMaxNodeCount) {
    std::fprintf(stderr, "validation_helper: node count %d outside %d..%d\n", n, kMinNodeCount,
                 kMaxNodeCount);
    return 1;
  }
  const RunSettings s = gasSettings(n, 1);
  const double T = 300.0, N0 = 1e20;
  const int capacity = tableCapacity(n);
  const double v1 = std::pow(1.0, 3.0) * (3.1415926 * 1e-27) / 6.0;
  NodeGrid grid = makeNodeGrid(capacity);
  buildNodeGrid(grid, v1, s.spacingFactor, s.density, n, kThirdSeven);
  SplitOperator split = makeSplitOperator(capacity);
  buildSplitOperator(split, grid.volume, n);
  CollisionKernel kernel = makeCollisionKernel(capacity);
  std::vector<double> N(static_cast<std::size_t>(capacity), 0.0), gain(N), loss(N);
  N[1] = N0;
  const double V0 = N0 * v1;
  double t = 0.0, dt = 1e-8, worst = 0.0, worstTime = 0.0, topShare = 0.0;
  long steps = 0;
  while (t < 0.01) {
    const double smallest =
        computeCollisionKernel(T, collisionModelOf(s), grid, n, kernel);
    coagulationRates(N, split, kernel, n, 1, gain, loss);
    double Ninf = 0.0;
    for (int k = 1; k <= n; ++k) {
      N[k] = N[k] + (0.5 * gain[k] - N[k] * loss[k]) * dt;
      Ninf += N[k];
    }
    dt = 0.001 / (smallest * Ninf);
    double V = 0.0;
    for (int k = 1; k <= n; ++k) V += N[k] * grid.volume[k];
    const double drift = std::fabs(V - V0) / V0;
    if (drift > worst) {
      worst = drift;
      worstTime = t;
    }
    topShare = N[n] * grid.volume[n] / V;
    t += dt;
    ++steps;
  }
  std::printf("nodes %d\nsteps %ld\nlargest_relative_volume_change %.6e\nat_time %.6e\n"
              "top_node_volume_share %.6e\n",
              n, steps, worst, worstTime, topShare);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "kernel") == 0) return printKernel();
  if (argc >= 2 && std::strcmp(argv[1], "nucleation") == 0) return printNucleation();
  if (argc >= 3 && std::strcmp(argv[1], "volume-drift") == 0)
    return printVolumeDrift(std::atoi(argv[2]));
  std::fprintf(stderr, "usage: validation_helper kernel | nucleation | volume-drift NODES\n");
  return 2;
}
