// Feeds arbitrary bytes to the reader of main.inp: the template scan, the derived grid
// quantities and the checks that decide whether a run may start.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "processes/run_settings.h"

namespace {

// The template of main.inp as users see it.
constexpr const char* kTemplate =
    "Number of nodes: %d Starting Temperature(Kelvin): %lf Cooling Rate(Kelvin/s): %lf "
    "Pressure(Atm): %lf Molecular Weight(Kg/mol): %lf Density(Kg/m3): %lf Surface Tension in "
    "the form A-BT(dyne/cm): A=%lf B=%lf Saturation Vapor Pressure of material in form "
    "Ps=exp(C-D/T)P: C=%lf D=%lf Enter your choice - 1)Coagulation,2)nucleation+coagulation,"
    "3)nucleation + coagulation + surface growth,4)surface growth:%d Choice of collision "
    "frequency function:1)Free Molecular Regime,2)Fuchs form for free molecular and "
    "transition regime:%d Sutherland's constants for carrier gas in the form A*T^1.5/(B+T): "
    "A=%lf B=%lf";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace aerosol;
  const std::string text(reinterpret_cast<const char*>(data), size);

  RunSettings scanned;
  const std::vector<TemplateField> fields = mainInputTemplate(scanned);
  static const bool sameTemplate = fuzz::formatOf(fields) == kTemplate;
  if (!sameTemplate) fuzz::broken("main.inp template differs", fuzz::formatOf(fields));
  const ScanOutcome outcome = scanTemplate(text, fields);
  fuzz::compareWithSscanf(text, kTemplate, fields, outcome.converted);

  RunSettings settings;
  std::string message;
  const bool read = parseRunSettings(text, settings, message);
  if (read != (outcome.converted == static_cast<int>(fields.size())))
    fuzz::broken("reader and scan disagree", message);
  if (!read) {
    fuzz::checkMessage("main.inp", message);
    return 0;
  }
  if (settings.nodeCount != scanned.nodeCount || settings.process != scanned.process)
    fuzz::broken("reader stored other values than it scanned", "");

  const std::string problem = checkRunSettings(settings);
  if (!problem.empty()) {
    fuzz::checkMessage("main.inp", problem);
    return 0;
  }
  if (settings.process < 1 || settings.process > 4) return 0;  // nothing runs

  // What every process relies on once the checks have passed.
  const int n = settings.nodeCount;
  if (n < kMinNodeCount || n > kMaxNodeCount) fuzz::broken("node count let through", "");
  if (tableCapacity(n) < n + 2) fuzz::broken("tables too small for the guard node", "");
  if (!(std::isfinite(settings.spacingFactor) && settings.spacingFactor > 1.0))
    fuzz::broken("spacing factor", std::to_string(settings.spacingFactor));
  if (!(settings.pressure > 0.0 && settings.density > 0.0)) fuzz::broken("pressure or density", "");
  if (settings.process != 4 && settings.collisionFunction != 1 && settings.collisionFunction != 2)
    fuzz::broken("collision function let through", std::to_string(settings.collisionFunction));
  if (settings.process != 1) {
    if (!gridVolumesUsable(settings.monomerVolume, settings.spacingFactor, settings.nodeCount))
      fuzz::broken("monomer volume", std::to_string(settings.monomerVolume));
    // The cooling runs must end: every step has to lower the temperature.
    if (settings.startTemperature > 300.0 && !(settings.coolingRate > 0.0))
      fuzz::broken("a run that never cools", "");
  }
  return 0;
}
