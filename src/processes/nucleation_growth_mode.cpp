#include <vector>

#include "processes/processes.h"
#include "processes/passes.h"
#include "common/console.h"
#include "processes/range_watch.h"

namespace aerosol {

int runNucleationCoagulationGrowth(const RunSettings& settings, PassKernels& kernels) {
  NucleationRun run(settings, true, kernels);
  const int n = run.n;
  const std::vector<double>& N = run.N;
  if (!emit("\nTime\t\tN[1]\t\tJk\t\tS\t\tdiameter\tParticle Volume\tTotal Number"))
    return reportWriteFailure();
  int printCounter = 1;
  int tableCounter = 1;

  RangeWatch watch;
  ProgressLine progress("T", "K", settings.startTemperature, 300.0);
  while (run.T > 300.0) {
    run.beginPass();
    ++printCounter;
    ++tableCounter;
    if (printCounter == 400) {
      // "Particle Volume" holds monomers and particles together.
      const NucleationState& st = run.state;
      if (!emit("\n%e\t%e\t%e\t%e\t%e\t%e\t%e", shown(run.t), shown(N[1]),
                shown(st.nucleationRate), shown(st.saturationRatio), shown(run.volumeMeanDiameter),
                shown(run.totalVolume), shown(run.totalNumber)))
        return reportWriteFailure();
      printCounter = 1;
    }
    if (tableCounter == 400000) {
      for (int k = 1; k <= n + 1; ++k)
        if (!emit("\nN%d\t%e", k, shown(N[k]))) return reportWriteFailure();
      tableCounter = 1;
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
  return watch.status();
}

}  // namespace aerosol
