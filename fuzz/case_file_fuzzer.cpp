// Feeds arbitrary bytes to the case-file reader of `aerosol simulate` as a whole TOML text: it
// must give a case record or a refusal, never a crash, a hang or undefined behaviour.
//   - A refusal is one line that starts with the file's name, with no raw control characters
//     (values and keys from the file are shown escaped).
//   - An accepted case holds what the model relies on (node count, grid, seed node,
//     temperature table, output times), and reads back to the same record, double for double, from what
//     caseToToml writes of it (what --print-case shows and a sweep writes).

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "case/case.h"

namespace {

using aerosol::fuzz::broken;
using aerosol::fuzz::sameDouble;

constexpr const char* kSource = "case.toml";

void checkRefusal(const std::string& message) {
  if (message.empty()) broken("empty message", "");
  if (message.compare(0, std::string(kSource).size() + 1, std::string(kSource) + ":") != 0)
    broken("message does not start with the file name", message);
  for (const char c : message) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7f)
      broken("message is not one line of text (a raw control character)", message);
  }
}

// What the model and the writers rely on: tables sized by the node count and the output
// times, a seed node inside the grid, a grid of finite volumes, times that increase.
void checkAccepted(const aerosol::SimulationCase& c) {
  const int n = c.grid.nodeCount;
  if (n < aerosol::kFewestNodes || n > aerosol::kMostNodes)
    broken("node count let through", std::to_string(n));
  if (!(std::isfinite(c.grid.firstVolume) && c.grid.firstVolume > 0.0) ||
      !(c.grid.spacingFactor == 0.0 || c.grid.spacingFactor > 1.0))
    broken("grid let through", "");
  if (c.initial.particles == aerosol::ParticleInit::SeededNode) {
    const int lowest = c.mechanisms.vapor == aerosol::VaporMode::None ? 1 : 2;
    if (c.initial.seedNode < lowest || c.initial.seedNode > n)
      broken("seed node let through", std::to_string(c.initial.seedNode));
  }
  if (c.temperature.law == aerosol::TemperatureLaw::Table) {
    const auto& table = c.temperature.table;
    if (table.size() < 2 || table[0].time != 0.0) broken("temperature table let through", "");
    for (std::size_t i = 1; i < table.size(); ++i)
      if (!(table[i].time > table[i - 1].time)) broken("table times do not increase", "");
  }
  if (c.output.times < 2) broken("fewer than two output times", std::to_string(c.output.times));
}

void same(bool equal, const char* field, const std::string& written) {
  if (!equal) broken(field, "differs after caseToToml and reading back:\n" + written);
}

void checkSameCase(const aerosol::SimulationCase& a, const aerosol::SimulationCase& b,
                   const std::string& written) {
  same(a.legacyProcess == b.legacyProcess, "legacyProcess", written);
  same(a.material.name == b.material.name, "material.name", written);
  same(sameDouble(a.material.molarMass, b.material.molarMass), "material.molarMass", written);
  same(sameDouble(a.material.density, b.material.density), "material.density", written);
  same(sameDouble(a.material.surfaceTensionA, b.material.surfaceTensionA),
       "material.surfaceTensionA", written);
  same(sameDouble(a.material.surfaceTensionB, b.material.surfaceTensionB),
       "material.surfaceTensionB", written);
  same(sameDouble(a.material.vaporPressureC, b.material.vaporPressureC),
       "material.vaporPressureC", written);
  same(sameDouble(a.material.vaporPressureD, b.material.vaporPressureD),
       "material.vaporPressureD", written);
  same(sameDouble(a.material.vaporPressureFactor, b.material.vaporPressureFactor),
       "material.vaporPressureFactor", written);
  same(a.material.factorIsGasPressure == b.material.factorIsGasPressure,
       "material.factorIsGasPressure", written);
  same(sameDouble(a.gas.pressure, b.gas.pressure), "gas.pressure", written);
  same(sameDouble(a.gas.sutherlandA, b.gas.sutherlandA), "gas.sutherlandA", written);
  same(sameDouble(a.gas.sutherlandB, b.gas.sutherlandB), "gas.sutherlandB", written);
  same(a.grid.nodeCount == b.grid.nodeCount, "grid.nodeCount", written);
  same(sameDouble(a.grid.spacingFactor, b.grid.spacingFactor), "grid.spacingFactor", written);
  same(sameDouble(a.grid.firstVolume, b.grid.firstVolume), "grid.firstVolume", written);
  same(sameDouble(a.grid.diameterExponent, b.grid.diameterExponent), "grid.diameterExponent",
       written);
  same(a.mechanisms.nucleation == b.mechanisms.nucleation &&
           a.mechanisms.coagulation == b.mechanisms.coagulation &&
           a.mechanisms.kernel == b.mechanisms.kernel &&
           a.mechanisms.growth == b.mechanisms.growth && a.mechanisms.vapor == b.mechanisms.vapor,
       "mechanisms", written);
  same(sameDouble(a.initial.saturationRatio, b.initial.saturationRatio),
       "initial.saturationRatio", written);
  same(sameDouble(a.initial.monomerConcentration, b.initial.monomerConcentration),
       "initial.monomerConcentration", written);
  same(a.initial.particles == b.initial.particles, "initial.particles", written);
  same(sameDouble(a.initial.diameter, b.initial.diameter), "initial.diameter", written);
  same(sameDouble(a.initial.concentration, b.initial.concentration), "initial.concentration",
       written);
  same(a.initial.seedNode == b.initial.seedNode, "initial.seedNode", written);
  same(sameDouble(a.initial.geometricStd, b.initial.geometricStd), "initial.geometricStd",
       written);
  same(a.temperature.law == b.temperature.law, "temperature.law", written);
  same(sameDouble(a.temperature.start, b.temperature.start), "temperature.start", written);
  same(sameDouble(a.temperature.coolingRate, b.temperature.coolingRate),
       "temperature.coolingRate", written);
  same(a.temperature.table.size() == b.temperature.table.size(), "temperature.table size",
       written);
  for (std::size_t i = 0; i < a.temperature.table.size(); ++i) {
    const aerosol::TemperaturePoint& p = a.temperature.table[i];
    const aerosol::TemperaturePoint& q = b.temperature.table[i];
    same(sameDouble(p.time, q.time) && sameDouble(p.temperature, q.temperature) &&
             sameDouble(p.pressure, q.pressure),
         "temperature.table row", written);
  }
  same(a.end.rule == b.end.rule && sameDouble(a.end.time, b.end.time) &&
           sameDouble(a.end.temperature, b.end.temperature),
       "end", written);
  same(sameDouble(a.tolerances.relative, b.tolerances.relative) &&
           sameDouble(a.tolerances.absolute, b.tolerances.absolute) &&
           a.tolerances.maxSteps == b.tolerances.maxSteps,
       "tolerances", written);
  same(a.output.file == b.output.file && a.output.times == b.output.times &&
           a.output.spacing == b.output.spacing,
       "output", written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  aerosol::SimulationCase c;
  std::string message;
  if (!aerosol::parseCaseText(text, kSource, c, message)) {
    checkRefusal(message);
    return 0;
  }
  if (c.source != kSource || c.sourceText != text) broken("source not kept", c.source);
  checkAccepted(c);
  (void)aerosol::caseWarnings(c);

  const std::string written = aerosol::caseToToml(c);
  aerosol::SimulationCase again;
  if (!aerosol::parseCaseText(written, kSource, again, message))
    broken("caseToToml wrote a case that is refused", message + "\n" + written);
  checkSameCase(c, again, written);
  return 0;
}
