#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "processes/processes.h"
#include "processes/passes.h"
#include "common/console.h"
#include "processes/range_watch.h"

namespace aerosol {

bool parseCoagulationSettings(const std::string& text, const RunSettings& settings,
                              CoagulationSettings& coag, std::string& message) {
  const std::vector<TemplateField> fields = {
      {"\n Initial diameter of monodisperse particles(nm): ",
       "Initial diameter of monodisperse particles(nm):", "initialDiameter", ValueKind::Real,
       nullptr, &coag.initialDiameter},
      {"  Initial number concentration(#/m3): ", "Initial number concentration(#/m3):",
       "initialConcentration", ValueKind::Real, nullptr, &coag.initialConcentration},
      {" Temperature(Kelvin): ", "Temperature(Kelvin):", "temperature", ValueKind::Real, nullptr,
       &coag.temperature},
  };
  const ScanOutcome outcome = scanTemplate(text, fields);
  if (outcome.converted < static_cast<int>(fields.size())) {
    message = describeScanFailure("coag.inp", text, fields, outcome);
    return false;
  }
  auto refuse = [&](const char* label, const char* field, double value, const char* expected) {
    message = std::string("coag.inp: \"") + label + "\" (" + field + ") is " +
              showNumber(value) + ", expected " + expected;
    return false;
  };
  if (!(std::isfinite(coag.initialDiameter) && coag.initialDiameter > 0.0))
    return refuse("Initial diameter of monodisperse particles(nm):", "initialDiameter",
                  coag.initialDiameter, "a finite diameter above 0 nm");
  if (!(std::isfinite(coag.initialConcentration) && coag.initialConcentration >= 0.0))
    return refuse("Initial number concentration(#/m3):", "initialConcentration",
                  coag.initialConcentration, "a finite concentration of 0 or more");
  if (!(std::isfinite(coag.temperature) && coag.temperature > 0.0))
    return refuse("Temperature(Kelvin):", "temperature", coag.temperature,
                  "a finite temperature above 0 K");
  const double firstVolume = volumeOfDiameterNm(coag.initialDiameter);
  if (!gridVolumesUsable(firstVolume, settings.spacingFactor, settings.nodeCount))
    return refuse("Initial diameter of monodisperse particles(nm):", "initialDiameter",
                  coag.initialDiameter,
                  ("a diameter whose particle volume (" + showNumber(firstVolume) +
                   " m3), and the largest node volume of the grid built on it, are finite "
                   "numbers above 0")
                      .c_str());
  if (settings.collisionFunction == 2) {
    const std::string problem = checkViscosity(settings, coag.temperature, "the temperature");
    if (!problem.empty()) {
      message = "coag.inp: \"Temperature(Kelvin):\" (temperature) is " +
                showNumber(coag.temperature) + " K: " + problem;
      return false;
    }
  }
  return true;
}

int runCoagulation(const RunSettings& input, PassKernels& kernels) {
  std::FILE* file = openInputFile("coag.inp");
  if (file == nullptr) return kExitOpenFailure;

  std::string text;
  CoagulationSettings coag;
  std::string message;
  if (!readWholeFile(file, "coag.inp", text)) {
    std::fclose(file);
    return kExitInputError;
  }
  if (!parseCoagulationSettings(text, input, coag, message)) {
    std::fprintf(stderr, "aerosol: %s\n", message.c_str());
    std::fclose(file);
    return kExitInputError;
  }
  // The temperature of coag.inp replaces the starting temperature of main.inp.
  RunSettings settings = input;
  settings.startTemperature = coag.temperature;
  const double T = settings.startTemperature;
  const double rho = settings.density;
  const double N0 = coag.initialConcentration;
  CoagulationRun run(settings, coag.initialDiameter, N0, kernels);
  const int n = run.n;
  const std::vector<double>& N = run.N;
  const double v1 = run.grid.volume[1];

  // Closed-form time to approach the self-preserving distribution (free-molecular regime).
  const double tSpd = 5.0 / (std::pow(T * 6.0 * kBoltzmann / rho, 0.5) *
                             std::pow(3.0 / kFourPi, 0.1666666) * std::pow(v1, 0.1666666) * N0);
  int status = kExitSuccess;
  if (!emit("\n\nEstimated time required to reach SPD=%es\n", shown(tSpd)) ||
      !emit("\nt\t\tNinf\t\tN[1]\t\tN[5]\t\tN[10]\t\tN[15]")) {
    std::fclose(file);
    return reportWriteFailure();
  }

  RangeWatch watch;
  ProgressLine progress("t", "s", 0.0, 0.01);
  while (run.t < 0.01) {
    run.step();
    watch.check(N.data(), 1, n, run.t);
    // The sixth column holds the total particle volume.
    if (!emit("\n%e\t%e\t%e\t%e\t%e\t%e", shown(run.t), shown(run.totalConcentration),
              shown(N[1]), shown(N[5]), shown(N[10]), shown(run.totalVolume))) {
      status = reportWriteFailure();
      break;
    }
    const double next = run.t + run.dt;
    if (!(next > run.t)) {
      // A step that is zero, negative, not a number or lost in rounding would never reach
      // the end time. (With no particles the step is infinite: the run ends after one row.)
      watch.timeStuck(run.t, run.dt);
      break;
    }
    run.t = next;
    progress.slowPass(run.t);
  }

  if (status == kExitSuccess) {
    bool ok = emit("\n\n***Size Distribution after reaching SPD****\n") &&
              emit("\nvolume\t\tnumber");
    for (int k = 1; ok && k <= n - 1; ++k)
      ok = emit("\n%e\t%e", shown(run.grid.volume[k]), shown(N[k]));
    if (!ok) status = reportWriteFailure();
  }
  if (status == kExitSuccess) status = watch.status();
  std::fclose(file);
  return status;
}

}  // namespace aerosol
