#include "case/case_checks.h"

#include <cmath>

#include "case/case_text.h"
#include "properties/constants.h"

namespace aerosol {
namespace {

std::string kelvin(double v) { return formatCaseNumber(v) + " K"; }

// An end that the history reaches within what it describes.
std::optional<CaseProblem> checkEnd(const SimulationCase& c) {
  const TemperatureHistory& h = c.temperature;
  const EndCondition& end = c.end;
  const bool byTime = end.rule == EndRule::Time;
  const std::string key = byTime ? "end.time" : "end.temperature";
  const std::string value = formatCaseNumber(byTime ? end.time : end.temperature);
  auto problem = [&](const std::string& expected) {
    return std::optional<CaseProblem>(CaseProblem{key, value, expected});
  };
  switch (h.law) {
    case TemperatureLaw::Constant:
      if (!byTime)
        return problem("an end.time: a constant temperature (" + kelvin(h.start) +
                       ") never reaches another");
      break;
    case TemperatureLaw::CoolingRate:
      if (byTime) {
        if (!(h.at(end.time, 0.0).temperature > 0.0))
          return problem("an end before the cooling law reaches 0 K (at " +
                         formatCaseNumber(h.start / h.coolingRate) + " s)");
      } else if (!(end.temperature != h.start && std::isfinite(caseEndTime(c)))) {
        return problem("a temperature that the law reaches from temperature.start = " +
                       kelvin(h.start) + " at temperature.cooling_rate = " +
                       formatCaseNumber(h.coolingRate) + " K/s (a positive rate cools)");
      }
      break;
    case TemperatureLaw::Table:
      if (byTime && end.time > h.table.back().time)
        return problem("an end within the temperature table (up to " +
                       formatCaseNumber(h.table.back().time) + " s)");
      if (!byTime && !(end.temperature != h.start && std::isfinite(caseEndTime(c))))
        return problem("a temperature that the table reaches after its start at " +
                       kelvin(h.start));
      break;
  }
  return std::nullopt;
}

}  // namespace

double caseEndTime(const SimulationCase& c) {
  if (c.end.rule == EndRule::Time) return c.end.time;
  return c.temperature.timeToReach(c.end.temperature);
}

TemperatureSpan caseTemperatureSpan(const SimulationCase& c) {
  return c.temperature.spanUntil(caseEndTime(c));
}

namespace {

// A precursor's product and the vapour: one monomer per molecule goes to node 1, which is
// the vapour's (depleted, so that it can take them in) or stable particles of monomer size
// without a vapour.
std::optional<CaseProblem> checkPrecursor(const SimulationCase& c) {
  if (!c.precursor.present) return std::nullopt;
  const VaporMode vapor = c.mechanisms.vapor;
  if (c.precursor.product == PrecursorProduct::Particles && vapor != VaporMode::None)
    return CaseProblem{"precursor.product", "\"particles\"",
                       "\"vapor\" with a vapour (node 1 holds its monomers); particles of "
                       "monomer size need mechanisms.vapor = \"none\""};
  if (c.precursor.product == PrecursorProduct::Vapor && vapor == VaporMode::None)
    return CaseProblem{"precursor.product", "\"vapor\"",
                       "\"particles\" with mechanisms.vapor = \"none\", or a vapour "
                       "(mechanisms.vapor = \"depleted\") to take the monomers"};
  if (c.precursor.product == PrecursorProduct::Vapor && vapor == VaporMode::Held)
    return CaseProblem{"mechanisms.vapor", "\"held\"",
                       "\"depleted\" with a precursor that makes the vapour (a held vapour "
                       "takes nothing in)"};
  return std::nullopt;
}

}  // namespace

std::optional<CaseProblem> checkCase(const SimulationCase& c) {
  if (std::optional<CaseProblem> end = checkEnd(c)) return end;
  if (std::optional<CaseProblem> precursor = checkPrecursor(c)) return precursor;
  const Mechanisms& m = c.mechanisms;
  const MaterialProperties& mat = c.material;
  const TemperatureSpan span = caseTemperatureSpan(c);
  const double ends[2] = {span.low, span.high};

  if (m.vapor != VaporMode::None) {
    for (double T : ends) {
      const double Ps = std::exp(mat.vaporPressureC - mat.vaporPressureD / T);
      if (!(std::isfinite(Ps) && Ps > 0.0))
        return CaseProblem{"material.vapor_pressure_c", formatCaseNumber(mat.vaporPressureC),
                           "constants whose vapour pressure exp(C - D/T) is a finite number "
                           "above 0 at the run's temperatures; with vapor_pressure_d = " +
                               formatCaseNumber(mat.vaporPressureD) + " it is " +
                               formatCaseNumber(Ps) + " atm at " + kelvin(T)};
    }
    if (c.initial.saturationRatio > 0.0) {
      const GasState start = c.temperature.at(0.0, c.gas.pressure);
      const double T0 = start.temperature;
      const double ns = std::exp(mat.vaporPressureC - mat.vaporPressureD / T0) *
                        mat.vaporPressureFactorAt(start.pressure) * kPascalPerAtm /
                        (kBoltzmann * T0);
      if (!std::isfinite(c.initial.saturationRatio * ns))
        return CaseProblem{"initial.saturation_ratio",
                           formatCaseNumber(c.initial.saturationRatio),
                           "a saturation ratio whose monomer concentration at " + kelvin(T0) +
                               " is finite"};
    }
  }
  if (m.vapor != VaporMode::None && (m.nucleation || m.growth)) {
    for (double T : ends) {
      const double sigma = mat.surfaceTensionA - mat.surfaceTensionB * T;
      if (!(sigma > 0.0))
        return CaseProblem{"material.surface_tension_a", formatCaseNumber(mat.surfaceTensionA),
                           "a surface tension A - B T above 0 at the run's temperatures; with "
                           "surface_tension_b = " +
                               formatCaseNumber(mat.surfaceTensionB) + " it is " +
                               formatCaseNumber(sigma) + " dyne/cm at " + kelvin(T)};
    }
  }
  const bool fuchs = m.kernel == KernelForm::Fuchs && (m.coagulation || m.growth);
  const bool tube = c.reactor.tubeDiameter > 0.0;
  if (fuchs || tube) {
    for (double T : ends) {
      const double mu = std::pow(T, 1.5) * c.gas.sutherlandA / (c.gas.sutherlandB + T);
      if (!(std::isfinite(mu) && mu > 0.0))
        return CaseProblem{"gas.sutherland_a", formatCaseNumber(c.gas.sutherlandA),
                           std::string("Sutherland constants whose viscosity A T^1.5 / (B + T) "
                                       "is above 0 at the run's temperatures for ") +
                               (fuchs ? "the Fuchs kernel" : "the diffusion to the tube's wall") +
                               "; with sutherland_b = " +
                               formatCaseNumber(c.gas.sutherlandB) + " it is " +
                               formatCaseNumber(mu) + " Pa s at " + kelvin(T)};
    }
  }
  return std::nullopt;
}

}  // namespace aerosol
