#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "growth/growth.h"
#include "modes/modes.h"
#include "nucleation/nucleation.h"
#include "setup/output.h"

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

int runSeededGrowth(const RunSettings& settings) {
  FastPassKernels kernels;
  return runSeededGrowth(settings, kernels);
}

int runSeededGrowth(const RunSettings& settings, PassKernels& kernels) {
  const int n = settings.nodeCount;
  const int capacity = tableCapacity(n);
  const auto size = static_cast<std::size_t>(capacity);
  std::vector<double> N(size, 0.0), Ks(size, 0.0);
  NodeGrid grid = makeNodeGrid(capacity);
  buildNodeGrid(grid, settings.monomerVolume, settings.spacingFactor, settings.density, n,
                kThirdSix);

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
  N[static_cast<std::size_t>(seed.seedNode)] = seed.seedConcentration;

  double t = 0.0;
  const double dt = 1e-08;
  // The vapour is held at its starting concentration for the whole run.
  N[1] = initialMonomerConcentration(settings);
  int printCounter = 0;
  double T = settings.startTemperature;

  CollisionKernel kernel = makeCollisionKernel(capacity);
  kernels.prepare(settings, grid, nullptr, n, 2);
  GrowthRates growth = makeGrowthRates(capacity);
  NucleationState st;
  RangeWatch watch;
  ProgressLine progress("T", "K", settings.startTemperature, 300.0);
  while (T > 300.0) {
    computeSaturation(settings, T, st);
    if (printCounter == 1000) {
      if (!emit("\n\ntime=%es\n", shown(t))) return reportWriteFailure();
      for (int k = 1; k <= n - 2; ++k)
        if (!emit("\nN[%d]\t%e", k, shown(N[k]))) return reportWriteFailure();
      printCounter = 0;
    }
    ++printCounter;
    kernels.fillMonomerRow(T, kernel);
    const GrowthInputs in{n,  &grid.volume, &N, &kernel.beta[kernel.index(1, 0)],
                          st.surfaceTension, st.saturationConcentration, T,
                          settings.molecularWeight, settings.density, dt};
    kernels.growth(in, grid.diameter, Ks, growth);
    for (int k = 2; k <= n; ++k)
      N[k] = N[k] + (growth.growthGain[k] - growth.growthLoss[k]) * dt;
    watch.check(N.data(), 2, n, t);
    T = coolGas(T, settings.coolingRate, dt);
    t = t + dt;
    progress.pass(T);
  }
  return kExitSuccess;
}

}  // namespace aerosol
