#include <cstdio>

#include "engine/fast_pass_kernels.h"
#include "processes/processes.h"
#include "processes/run_settings.h"

namespace aerosol {

int runProcess(const RunSettings& settings) {
  FastPassKernels kernels;
  return runProcess(settings, kernels);
}

int runProcess(const RunSettings& settings, PassKernels& kernels) {
  if (settings.process < 1 || settings.process > 4) {
    std::fprintf(stderr,
                 "aerosol: main.inp: process %d: nothing to run (the choices are 1 to 4)\n",
                 settings.process);
    return kExitSuccess;
  }
  const std::string problem = checkRunSettings(settings);
  if (!problem.empty()) {
    std::fprintf(stderr, "aerosol: %s\n", problem.c_str());
    return kExitInputError;
  }
  double fineStep = 0.0;
  const double passes = estimatePasses(settings, &fineStep);
  if (passes > kLongRunPasses)
    std::fprintf(stderr,
                 "aerosol: warning: cooling from %s K to 300 K at %s K/s takes at least %.3g time "
                 "steps of %s s: a long run\n",
                 showNumber(settings.startTemperature).c_str(),
                 showNumber(settings.coolingRate).c_str(), passes, showNumber(fineStep).c_str());
  if (settings.process == 1) return runCoagulation(settings, kernels);
  if (settings.process == 2) return runNucleationCoagulation(settings, kernels);
  if (settings.process == 3) return runNucleationCoagulationGrowth(settings, kernels);
  return runSeededGrowth(settings, kernels);
}

}  // namespace aerosol
