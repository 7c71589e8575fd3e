#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "coagulation/coagulation_rates.h"
#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "modes/modes.h"
#include "setup/output.h"

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
  const double firstVolume = std::pow(coag.initialDiameter, 3.0) * (3.1415926 * 1e-27) / 6.0;
  if (!gridVolumesUsable(firstVolume, settings))
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

int runCoagulation(const RunSettings& input) {
  FastPassKernels kernels;
  return runCoagulation(input, kernels);
}

int runCoagulation(const RunSettings& input, PassKernels& kernels) {
  std::FILE* file = openInputFile("coag.inp");
  if (file == nullptr) return kExitOpenFailure;

  RunSettings settings = input;
  const int n = settings.nodeCount;
  const int capacity = tableCapacity(n);
  std::vector<double> N(static_cast<std::size_t>(capacity), 0.0);

  std::string text;
  CoagulationSettings coag;
  std::string message;
  if (!readWholeFile(file, "coag.inp", text)) {
    std::fclose(file);
    return kExitInputError;
  }
  if (!parseCoagulationSettings(text, settings, coag, message)) {
    std::fprintf(stderr, "aerosol: %s\n", message.c_str());
    std::fclose(file);
    return kExitInputError;
  }
  N[1] = coag.initialConcentration;
  settings.startTemperature = coag.temperature;
  const double T = settings.startTemperature;
  const double rho = settings.density;
  const double N0 = coag.initialConcentration;

  // Seed volume from the diameter in nm (1e-27 converts nm3 to m3).
  const double v1 = std::pow(coag.initialDiameter, 3.0) * (3.1415926 * 1e-27) / 6.0;
  NodeGrid grid = makeNodeGrid(capacity);
  buildNodeGrid(grid, v1, settings.spacingFactor, rho, n, kThirdSeven);
  SplitOperator split = makeSplitOperator(capacity);
  buildSplitOperator(split, grid.volume, n);
  CollisionKernel kernel = makeCollisionKernel(capacity);
  kernels.prepare(settings, grid, &split, n, 1);
  std::vector<double> gain(static_cast<std::size_t>(capacity), 0.0);
  std::vector<double> loss(static_cast<std::size_t>(capacity), 0.0);

  double t = 0.0;
  double dt = 1e-8;

  // Closed-form time to approach the self-preserving distribution (free-molecular regime).
  const double tSpd = 5.0 / (std::pow(T * 6.0 * 1.38e-23 / rho, 0.5) *
                             std::pow(3.0 / 12.5663704, 0.1666666) * std::pow(v1, 0.1666666) * N0);
  int status = kExitSuccess;
  if (!emit("\n\nEstimated time required to reach SPD=%es\n", shown(tSpd)) ||
      !emit("\nt\t\tNinf\t\tN[1]\t\tN[5]\t\tN[10]\t\tN[15]")) {
    std::fclose(file);
    return reportWriteFailure();
  }

  RangeWatch watch;
  ProgressLine progress("t", "s", 0.0, 0.01);
  while (t < 0.01) {
    const double smallestKernel = kernels.fillKernel(T, kernel);
    kernels.coagulation(N, kernel, gain, loss);
    double Ninf = 0.0;
    for (int k = 1; k <= n; ++k) {
      N[k] = N[k] + (0.5 * gain[k] - N[k] * loss[k]) * dt;
      Ninf = Ninf + N[k];
    }
    watch.check(N.data(), 1, n, t);
    // The next step keeps the fastest collision rate's change per step near 0.1%.
    dt = 0.001 / (smallestKernel * Ninf);
    double V = 0.0;
    for (int k = 1; k <= n; ++k) V = V + N[k] * grid.volume[k];
    if (!emit("\n%e\t%e\t%e\t%e\t%e\t%e", shown(t), shown(Ninf), shown(N[1]), shown(N[5]),
              shown(N[10]), shown(V))) {
      status = reportWriteFailure();
      break;
    }
    const double next = t + dt;
    if (!(next > t) && !std::isnan(next)) {
      // A step that is zero, negative or lost in rounding would never reach the end time.
      std::fprintf(stderr,
                   "aerosol: warning: at t = %e s the time step became %e s and cannot advance "
                   "the run; it stops here\n",
                   t, shown(dt));
      break;
    }
    t = next;
    progress.slowPass(t);
  }

  if (status == kExitSuccess) {
    bool ok = emit("\n\n***Size Distribution after reaching SPD****\n") &&
              emit("\nvolume\t\tnumber");
    for (int k = 1; ok && k <= n - 1; ++k)
      ok = emit("\n%e\t%e", shown(grid.volume[k]), shown(N[k]));
    if (!ok) status = reportWriteFailure();
  }
  std::fclose(file);
  return status;
}

}  // namespace aerosol
