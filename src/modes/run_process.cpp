#include <cstdio>

#include "engine/pass_kernels.h"
#include "modes/modes.h"
#include "setup/run_settings.h"

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
  if (settings.process == 1) return runCoagulation(settings, kernels);
  if (settings.process == 2) return runNucleationCoagulation(settings, kernels);
  if (settings.process == 3) return runNucleationCoagulationGrowth(settings, kernels);
  return runSeededGrowth(settings, kernels);
}

}  // namespace aerosol
