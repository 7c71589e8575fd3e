#include <vector>

#include "processes/processes.h"
#include "processes/passes.h"
#include "common/console.h"
#include "processes/range_watch.h"

namespace aerosol {

int runNucleationCoagulation(const RunSettings& settings, PassKernels& kernels) {
  NucleationRun run(settings, false, kernels);
  const int n = run.n;
  const std::vector<double>& N = run.N;
  int printCounter = 0;

  if (!emit("\ntime\t\tMonomer\t\tJk\t\tS\t\tDp_mean\t\tk*\t\tNtot")) return reportWriteFailure();

  RangeWatch watch;
  ProgressLine progress("T", "K", settings.startTemperature, 300.0);
  while (run.T > 300) {
    run.beginPass();
    ++printCounter;
    if (printCounter == 50) {
      // Eight values under seven headings: the seventh is the volume with monomers.
      const NucleationState& st = run.state;
      if (!emit("\n%e\t%e\t%e\t%e\t%e\t%e\t%e\t%e", shown(run.t), shown(N[1]),
                shown(st.nucleationRate), shown(st.saturationRatio), shown(run.volumeMeanDiameter),
                shown(st.criticalSize), shown(run.totalVolume), shown(run.totalNumber)))
        return reportWriteFailure();
      printCounter = 0;
    }
    const double t = run.t;
    const double T = run.T;
    run.finishPass();
    watch.check(N.data(), 1, n, t);
    if (run.T == T) {
      watch.temperatureStuck(t, T, run.dt, settings.coolingRate);
      break;
    }
    progress.pass(run.T);
  }
  watch.checkTemperature(run.T, run.t);

  if (!emit("\n\nFinal Particle Size Distribution\n\n") || !emit("\nvolume\t\tnumber"))
    return reportWriteFailure();
  for (int k = 2; k <= n; ++k)
    if (!emit("\n%e\t%e", shown(run.grid.volume[k]), shown(N[k]))) return reportWriteFailure();
  return watch.status();
}

}  // namespace aerosol
