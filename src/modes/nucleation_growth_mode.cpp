#include <cmath>
#include <vector>

#include "coagulation/coagulation_rates.h"
#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "growth/growth.h"
#include "modes/modes.h"
#include "nucleation/nucleation.h"
#include "setup/output.h"

namespace aerosol {

int runNucleationCoagulationGrowth(const RunSettings& settings) {
  FastPassKernels kernels;
  return runNucleationCoagulationGrowth(settings, kernels);
}

int runNucleationCoagulationGrowth(const RunSettings& settings, PassKernels& kernels) {
  const int n = settings.nodeCount;
  const int capacity = tableCapacity(n);
  const auto size = static_cast<std::size_t>(capacity);
  const double v1 = settings.monomerVolume;
  std::vector<double> N(size, 0.0), Ks(size, 0.0);

  NodeGrid grid = makeNodeGrid(capacity);
  buildNodeGrid(grid, v1, settings.spacingFactor, settings.density, n, kThirdSix);
  SplitOperator split = makeSplitOperator(capacity);
  buildSplitOperator(split, grid.volume, n);
  CollisionKernel kernel = makeCollisionKernel(capacity);
  kernels.prepare(settings, grid, &split, n, 2);
  std::vector<double> gain(size, 0.0), loss(size, 0.0), xi(size, 0.0);
  GrowthRates growth = makeGrowthRates(capacity);
  const std::vector<double>& v = grid.volume;

  double T = settings.startTemperature;
  double t = 0.0;
  double dt = 0.0001;
  const MonomerProperties monomer = computeMonomerProperties(settings.density, v1);
  N[1] = initialMonomerConcentration(settings);
  if (!emit("\nTime\t\tN[1]\t\tJk\t\tS\t\tdiameter\tParticle Volume\tTotal Number"))
    return reportWriteFailure();
  int printCounter = 1;
  int tableCounter = 1;

  RangeWatch watch;
  ProgressLine progress("T", "K", settings.startTemperature, 300.0);
  while (T > 300.0) {
    const NucleationState st = computeNucleationState(settings, monomer, T, N[1]);

    double Ntot = 0.0;
    double Vp = 0.0;
    for (int k = 2; k <= n; ++k) Ntot = Ntot + N[k];
    for (int k = 2; k <= n; ++k) Vp = Vp + N[k] * v[k];
    const double Vtot = N[1] * v[1] + Vp;
    const double meanVolume = Vp / Ntot;
    const double dp = std::pow(meanVolume * 6.0 / 3.1415926, 0.3333333);

    // Growth switches on with the first particles; after 0.14 s the fine step holds.
    if (Ntot > 100.0) dt = 1e-05;
    if (t > 0.14) dt = 5e-08;

    ++printCounter;
    ++tableCounter;
    if (printCounter == 400) {
      if (!emit("\n%e\t%e\t%e\t%e\t%e\t%e\t%e", shown(t), shown(N[1]), shown(st.nucleationRate),
                shown(st.saturationRatio), shown(dp), shown(Vtot), shown(Ntot)))
        return reportWriteFailure();
      printCounter = 1;
    }
    if (tableCounter == 400000) {
      for (int k = 1; k <= n + 1; ++k)
        if (!emit("\nN%d\t%e", k, shown(N[k]))) return reportWriteFailure();
      tableCounter = 1;
    }

    kernels.fillKernel(T, kernel);
    computeNucleationFractions(v, n, st.criticalVolume, xi);
    const GrowthInputs in{n,  &v, &N, &kernel.beta[kernel.index(1, 0)], st.surfaceTension,
                          st.saturationConcentration, T, settings.molecularWeight,
                          settings.density, dt};
    kernels.growth(in, grid.diameter, Ks, growth);
    kernels.coagulation(N, kernel, gain, loss);
    for (int k = 2; k <= n; ++k)
      N[k] = N[k] + dt * (xi[k] * st.nucleationRate + (0.5 * gain[k] - N[k] * loss[k]) +
                          growth.growthGain[k] - growth.growthLoss[k]);
    N[1] = removeNucleatedMonomers(N[1], st.nucleationRate, st.criticalSize, dt);
    N[1] = N[1] - dt * (growth.monomerUptake - growth.monomerRelease);
    watch.check(N.data(), 1, n, t);
    T = coolGas(T, settings.coolingRate, dt);
    t = t + dt;
    progress.pass(T);
  }
  return kExitSuccess;
}

}  // namespace aerosol
