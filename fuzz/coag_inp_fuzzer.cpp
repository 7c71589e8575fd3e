// Feeds arbitrary bytes to the reader of coag.inp (process 1), under both collision
// frequency functions, since the Fuchs form also checks the viscosity at the temperature read.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "processes/processes.h"

namespace {

// The template of coag.inp as users see it.
constexpr const char* kTemplate =
    "\n Initial diameter of monodisperse particles(nm): %lf  Initial number "
    "concentration(#/m3): %lf Temperature(Kelvin): %lf";

aerosol::RunSettings processOne(int collisionFunction) {
  aerosol::RunSettings s;
  s.nodeCount = 26;
  s.pressure = 1.0;
  s.density = 2000.0;
  s.process = 1;
  s.collisionFunction = collisionFunction;
  s.sutherlandA = 1.458e-6;
  s.sutherlandB = 110.4;
  s.spacingFactor = std::pow(10.0, 12.0 / 24.0);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace aerosol;
  const std::string text(reinterpret_cast<const char*>(data), size);

  CoagulationSettings scanned;
  const std::vector<TemplateField> fields = {
      {"\n Initial diameter of monodisperse particles(nm): ", "", "initialDiameter",
       ValueKind::Real, nullptr, &scanned.initialDiameter},
      {"  Initial number concentration(#/m3): ", "", "initialConcentration", ValueKind::Real,
       nullptr, &scanned.initialConcentration},
      {" Temperature(Kelvin): ", "", "temperature", ValueKind::Real, nullptr,
       &scanned.temperature},
  };
  const ScanOutcome outcome = scanTemplate(text, fields);
  fuzz::compareWithSscanf(text, kTemplate, fields, outcome.converted);
  const bool complete = outcome.converted == static_cast<int>(fields.size());

  for (int collisionFunction : {1, 2}) {
    const RunSettings settings = processOne(collisionFunction);
    CoagulationSettings coag;
    std::string message;
    if (!parseCoagulationSettings(text, settings, coag, message)) {
      fuzz::checkMessage("coag.inp", message);
      continue;
    }
    if (!complete) fuzz::broken("accepted a file the scan could not read in full", "");
    if (!fuzz::sameDouble(coag.initialDiameter, scanned.initialDiameter) ||
        !fuzz::sameDouble(coag.initialConcentration, scanned.initialConcentration) ||
        !fuzz::sameDouble(coag.temperature, scanned.temperature))
      fuzz::broken("reader stored other values than it scanned", "");
    if (!(coag.initialDiameter > 0.0 && std::isfinite(coag.initialDiameter)))
      fuzz::broken("diameter let through", std::to_string(coag.initialDiameter));
    if (!(coag.initialConcentration >= 0.0 && std::isfinite(coag.initialConcentration)))
      fuzz::broken("concentration let through", std::to_string(coag.initialConcentration));
    const double firstVolume = std::pow(coag.initialDiameter, 3.0) * (3.1415926 * 1e-27) / 6.0;
    if (!gridVolumesUsable(firstVolume, settings.spacingFactor, settings.nodeCount))
      fuzz::broken("grid volumes", std::to_string(firstVolume));
    if (!(coag.temperature > 0.0 && std::isfinite(coag.temperature)))
      fuzz::broken("temperature let through", std::to_string(coag.temperature));
  }
  return 0;
}
