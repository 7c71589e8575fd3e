#include <cmath>
#include <vector>

#include "coagulation/coagulation_rates.h"
#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "modes/modes.h"
#include "nucleation/nucleation.h"
#include "setup/output.h"

namespace aerosol {

int runNucleationCoagulation(const RunSettings& settings) {
  FastPassKernels kernels;
  return runNucleationCoagulation(settings, kernels);
}

int runNucleationCoagulation(const RunSettings& settings, PassKernels& kernels) {
  const int n = settings.nodeCount;
  const int capacity = tableCapacity(n);
  const auto size = static_cast<std::size_t>(capacity);
  const double v1 = settings.monomerVolume;
  std::vector<double> N(size, 0.0);

  NodeGrid grid = makeNodeGrid(capacity);
  buildNodeGrid(grid, v1, settings.spacingFactor, settings.density, n, kThirdSeven);
  SplitOperator split = makeSplitOperator(capacity);
  buildSplitOperator(split, grid.volume, n);
  CollisionKernel kernel = makeCollisionKernel(capacity);
  kernels.prepare(settings, grid, &split, n, 2);
  std::vector<double> gain(size, 0.0), loss(size, 0.0), xi(size, 0.0);
  const std::vector<double>& v = grid.volume;

  double T = settings.startTemperature;
  double t = 0.0;
  double dt = 0.0005;
  const MonomerProperties monomer = computeMonomerProperties(settings.density, v1);
  N[1] = initialMonomerConcentration(settings);
  int printCounter = 0;

  if (!emit("\ntime\t\tMonomer\t\tJk\t\tS\t\tDp_mean\t\tk*\t\tNtot")) return reportWriteFailure();

  RangeWatch watch;
  ProgressLine progress("T", "K", settings.startTemperature, 300.0);
  while (T > 300) {
    const NucleationState st = computeNucleationState(settings, monomer, T, N[1]);

    double Ntot = 0.0;
    double V = 0.0;
    for (int k = 2; k <= n; ++k) Ntot = Ntot + N[k];
    for (int k = 2; k <= n; ++k) V = V + N[k] * v[k];
    const double totalVolume = N[1] * v[1] + V;
    // Diameter of the mean particle volume; not a number while there are no particles.
    const double Dp = std::pow(6 * (V / Ntot) / 3.1415926, 0.3333333);

    if (t > 0.14) dt = 5e-8;

    ++printCounter;
    if (printCounter == 50) {
      if (!emit("\n%e\t%e\t%e\t%e\t%e\t%e\t%e\t%e", shown(t), shown(N[1]),
                shown(st.nucleationRate), shown(st.saturationRatio), shown(Dp),
                shown(st.criticalSize), shown(totalVolume), shown(Ntot)))
        return reportWriteFailure();
      printCounter = 0;
    }

    kernels.fillKernel(T, kernel);
    computeNucleationFractions(v, n, st.criticalVolume, xi);
    kernels.coagulation(N, kernel, gain, loss);
    for (int k = 2; k <= n; ++k)
      N[k] = N[k] + dt * (xi[k] * st.nucleationRate + (0.5 * gain[k] - N[k] * loss[k]));
    N[1] = removeNucleatedMonomers(N[1], st.nucleationRate, st.criticalSize, dt);
    watch.check(N.data(), 1, n, t);
    T = coolGas(T, settings.coolingRate, dt);
    t = t + dt;
    progress.pass(T);
  }

  if (!emit("\n\nFinal Particle Size Distribution\n\n") || !emit("\nvolume\t\tnumber"))
    return reportWriteFailure();
  for (int k = 2; k <= n; ++k)
    if (!emit("\n%e\t%e", shown(v[k]), shown(N[k]))) return reportWriteFailure();
  return kExitSuccess;
}

}  // namespace aerosol
