#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "processes/processes.h"
#include "processes/passes.h"
#include "common/console.h"
#include "processes/range_watch.h"

namespace aerosol {

bool parseSeedSettings(const std::string& text, const RunSettings& settings, SeedSettings& seed,
                       std::string& message) {
  const std::vector<TemplateField> fields = {
      {"Enter the node in which you want to put in particles:",
       "Enter the node in which you want to put in particles:", "seedNode", ValueKind::Integer,
       &seed.seedNode, nullptr},
      {" Enter the particle number concentration in #/m3 initially:",
       "Enter the particle number concentration in #/m3 initially:", "seedConcentration",
       ValueKind::Real, nullptr, &seed.seedConcentration},
  };
  const ScanOutcome outcome = scanTemplate(text, fields);
  if (outcome.converted < static_cast<int>(fields.size())) {
    message = describeScanFailure("grow.inp", text, fields, outcome);
    return false;
  }
  if (seed.seedNode < 2 || seed.seedNode > settings.nodeCount) {
    message = "grow.inp: \"Enter the node in which you want to put in particles:\" (seedNode) is " +
              std::to_string(seed.seedNode) + ", expected a particle node from 2 to " +
              std::to_string(settings.nodeCount) + " (node 1 is the vapour)";
    return false;
  }
  if (!(std::isfinite(seed.seedConcentration) && seed.seedConcentration >= 0.0)) {
    message =
        "grow.inp: \"Enter the particle number concentration in #/m3 initially:\" "
        "(seedConcentration) is " +
        showNumber(seed.seedConcentration) + ", expected a finite concentration of 0 or more";
    return false;
  }
  return true;
}

int runSeededGrowth(const RunSettings& settings, PassKernels& kernels) {
  std::FILE* file = openInputFile("grow.inp");
  if (file == nullptr) return kExitOpenFailure;
  std::string text;
  SeedSettings seed;
  std::string message;
  const bool read = readWholeFile(file, "grow.inp", text);
  std::fclose(file);
  if (!read) return kExitInputError;
  if (!parseSeedSettings(text, settings, seed, message)) {
    std::fprintf(stderr, "aerosol: %s\n", message.c_str());
    return kExitInputError;
  }

  SeededGrowthRun run(settings, seed.seedNode, seed.seedConcentration, kernels);
  const int n = run.n;
  const std::vector<double>& N = run.N;
  int printCounter = 0;
  RangeWatch watch;
  ProgressLine progress("T", "K", settings.startTemperature, 300.0);
  while (run.T > 300.0) {
    run.beginStep();
    // A block every 1000 completed steps, showing the state before this step's update.
    if (printCounter == 1000) {
      if (!emit("\n\ntime=%es\n", shown(run.t))) return reportWriteFailure();
      for (int k = 1; k <= n - 2; ++k)
        if (!emit("\nN[%d]\t%e", k, shown(N[k]))) return reportWriteFailure();
      printCounter = 0;
    }
    ++printCounter;
    const double t = run.t;
    const double T = run.T;
    run.finishStep();
    watch.check(N.data(), 2, n, t);
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
