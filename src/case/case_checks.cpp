#include "case/case_checks.h"

#include <cmath>
#include <vector>

#include "case/case_text.h"
#include "coagulation/node_grid.h"
#include "common/console.h"
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
        // The law leaves the physical range at 1 K when it cools, at 1e5 K when it heats.
        const double bound = h.coolingRate > 0.0 ? kTemperatureRange.low : kTemperatureRange.high;
        if (!kTemperatureRange.contains(h.at(end.time, 0.0).temperature))
          return problem("an end before the cooling law reaches " + kelvin(bound) + " (at " +
                         formatCaseNumber((h.start - bound) / h.coolingRate) + " s)");
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
  // A run from 1e-12 s to 1e9 s (30 years): shorter ones are below what the integrator
  // resolves, longer ones are a unit mistake.
  const double endTime = caseEndTime(c);
  if (!kEndTimeRange.contains(endTime)) {
    if (byTime) return problem(kEndTimeRange.expected);
    const std::string takes = " (it takes " + formatCaseNumber(endTime) + " s)";
    if (h.law == TemperatureLaw::CoolingRate)
      return CaseProblem{"temperature.cooling_rate", formatCaseNumber(h.coolingRate),
                         "a cooling rate that reaches end.temperature = " +
                             kelvin(end.temperature) + " in 1e-12 to 1e9 s" + takes};
    return problem("a temperature that the table reaches in 1e-12 to 1e9 s" + takes);
  }
  return std::nullopt;
}

// Each figure within its physical range. The case file's reader refuses these at their
// keys as it reads them; this catches them in a legacy folder's record.
std::optional<CaseProblem> checkRanges(const SimulationCase& c) {
  auto outside = [](const std::string& key, double v,
                    const PhysicalRange& range) -> std::optional<CaseProblem> {
    if (range.contains(v)) return std::nullopt;
    return CaseProblem{key, formatCaseNumber(v), range.expected};
  };
  std::optional<CaseProblem> p;
  const TemperatureHistory& h = c.temperature;
  if (h.law != TemperatureLaw::Table) {
    p = outside("temperature.start", h.start, kTemperatureRange);
  } else {
    for (std::size_t i = 0; i < h.table.size() && !p; ++i) {
      const std::string row = "temperature.table row " + std::to_string(i + 1);
      p = outside(row + " temperature", h.table[i].temperature, kTemperatureRange);
      if (!p && h.givesPressure()) p = outside(row + " pressure", h.table[i].pressure,
                                               kPressureRange);
    }
  }
  if (!p && c.end.rule == EndRule::Temperature)
    p = outside("end.temperature", c.end.temperature, kTemperatureRange);
  if (!p && !h.givesPressure()) p = outside("gas.pressure", c.gas.pressure, kPressureRange);
  if (!p) p = outside("gas.molar_mass", c.gas.molarMass, kGasMolarMassRange);
  if (!p) p = outside("material.density", c.material.density, kDensityRange);
  if (!p && c.mechanisms.vapor != VaporMode::None)
    p = outside("material.molar_mass", c.material.molarMass, kMolarMassRange);
  const InitialState& in = c.initial;
  if (!p && in.monomerConcentration != 0.0)
    p = outside("initial.monomer_concentration", in.monomerConcentration, kConcentrationRange);
  if (!p && in.particles != ParticleInit::None)
    p = outside("initial.particles.concentration", in.concentration, kConcentrationRange);
  if (!p && (in.particles == ParticleInit::Monodisperse ||
             in.particles == ParticleInit::Lognormal || in.particles == ParticleInit::Exponential))
    p = outside("initial.particles.diameter", in.diameter, kDiameterRange);
  if (!p && in.particles == ParticleInit::Lognormal)
    p = outside("initial.particles.sigma_g", in.geometricStd, kGeometricStdRange);
  return p;
}

std::string nanometres(double volume) {
  return formatCaseNumber(std::cbrt(volume * 6.0 / kPi) * 1e9) + " nm";
}

}  // namespace

std::optional<CaseProblem> checkGrid(const SimulationCase& c) {
  const GridSpec& g = c.grid;
  // Node 1 is the monomer with a vapour, and with a precursor that makes particles its size.
  const bool vapor = c.mechanisms.vapor != VaporMode::None ||
                     (c.precursor.present && c.precursor.product == PrecursorProduct::Particles);
  const bool spacingGiven = g.spacingFactor > 0.0;
  const std::string firstKey = vapor ? "material.molar_mass" : "grid.first_volume";
  const std::string firstValue =
      formatCaseNumber(vapor ? c.material.molarMass : g.firstVolume);
  // Node 1 is the smallest particle without a vapour (a monomer's size is the material's).
  const double low = volumeOfDiameterNm(kDiameterRange.low) * (1.0 - 1e-9);
  const double high = volumeOfDiameterNm(kDiameterRange.high) * (1.0 + 1e-9);
  if (!vapor && !(g.firstVolume >= low && g.firstVolume <= high))
    return CaseProblem{firstKey, firstValue,
                       "a grid whose node 1 is 0.1 nm to 1 mm across (it is " +
                           nanometres(g.firstVolume) + ")"};
  const double q = g.spacing();
  const double guard = g.volumeOf(g.nodeCount + 1);
  if (!(std::isfinite(g.firstVolume) && g.firstVolume > 0.0 && std::isfinite(guard))) {
    return CaseProblem{spacingGiven && g.firstVolume > 0.0 ? "grid.spacing" : firstKey,
                       spacingGiven && g.firstVolume > 0.0 ? formatCaseNumber(q) : firstValue,
                       "a value whose node volumes are finite numbers above 0 (node 1 is " +
                           formatCaseNumber(g.firstVolume) + " m3, the node above the largest " +
                           formatCaseNumber(guard) + " m3 with a spacing of " +
                           formatCaseNumber(q) + ")" +
                           (vapor ? "; node 1 is the monomer, molar_mass / (density NA)" : "")};
  }
  return std::nullopt;
}

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
  if (std::optional<CaseProblem> range = checkRanges(c)) return range;
  if (std::optional<CaseProblem> grid = checkGrid(c)) return grid;
  if (std::optional<CaseProblem> end = checkEnd(c)) return end;
  if (std::optional<CaseProblem> precursor = checkPrecursor(c)) return precursor;
  const Mechanisms& m = c.mechanisms;
  if (!m.nucleation && !c.precursor.present &&
      (c.initial.particles == ParticleInit::None || !(c.initial.concentration > 0.0)))
    return CaseProblem{"initial.particles.concentration",
                       formatCaseNumber(c.initial.concentration),
                       "particles at the start (a concentration above 0) when "
                       "mechanisms.nucleation is false and no [precursor] makes them: nothing "
                       "would form them"};
  const MaterialProperties& mat = c.material;
  const TemperatureSpan span = caseTemperatureSpan(c);
  const double ends[2] = {span.low, span.high};

  if (m.vapor != VaporMode::None) {
    // exp(C - D/T) is monotonic in T: its extremes over the run are at the span's ends. The
    // saturation concentration there stays within the concentration range (with the largest
    // factor a pressure history gives it).
    double factor = mat.factorIsGasPressure ? c.gas.pressure : mat.vaporPressureFactor;
    if (mat.factorIsGasPressure && c.temperature.givesPressure())
      for (const TemperaturePoint& row : c.temperature.table)
        factor = std::fmax(factor, row.pressure);
    for (double T : ends) {
      const double Ps = std::exp(mat.vaporPressureC - mat.vaporPressureD / T);
      const double ns = Ps * factor * kPascalPerAtm / (kBoltzmann * T);
      if (!(std::isfinite(Ps) && Ps > 0.0 && ns <= kConcentrationRange.high))
        return CaseProblem{"material.vapor_pressure_c", formatCaseNumber(mat.vaporPressureC),
                           "constants whose vapour pressure exp(C - D/T) is a finite number "
                           "above 0 at the run's temperatures, its saturation concentration "
                           "at most 1e30 #/m3; with vapor_pressure_d = " +
                               formatCaseNumber(mat.vaporPressureD) + " it is " +
                               formatCaseNumber(Ps) + " atm at " + kelvin(T)};
    }
    if (c.initial.saturationRatio > 0.0) {
      const GasState start = c.temperature.at(0.0, c.gas.pressure);
      const double T0 = start.temperature;
      const double ns = std::exp(mat.vaporPressureC - mat.vaporPressureD / T0) *
                        mat.vaporPressureFactorAt(start.pressure) * kPascalPerAtm /
                        (kBoltzmann * T0);
      const double monomers = c.initial.saturationRatio * ns;
      if (!(monomers <= kConcentrationRange.high))
        return CaseProblem{"initial.saturation_ratio",
                           formatCaseNumber(c.initial.saturationRatio),
                           "a saturation ratio whose monomer concentration at " + kelvin(T0) +
                               " is at most 1e30 #/m3 (it gives " + formatCaseNumber(monomers) +
                               ")"};
    }
  }
  if (m.vapor != VaporMode::None && (m.nucleation || m.growth)) {
    // The monomer's surface energy pi d1^2 sigma over kT enters the nucleation rate as
    // exp(theta - ...) and the Kelvin ratio over the smallest sizes as exp(2 theta / 3):
    // up to 230 (a factor 1e100) keeps them finite; real vapours stay below about 150.
    const double d1 = std::cbrt(6.0 * c.grid.firstVolume / kPi);
    for (double T : ends) {
      const double sigma = mat.surfaceTensionA - mat.surfaceTensionB * T;
      const double theta = kPi * d1 * d1 * sigma * 1e-3 / (kBoltzmann * T);
      if (!(sigma > 0.0))
        return CaseProblem{"material.surface_tension_a", formatCaseNumber(mat.surfaceTensionA),
                           "a surface tension A - B T above 0 at the run's temperatures; with "
                           "surface_tension_b = " +
                               formatCaseNumber(mat.surfaceTensionB) + " it is " +
                               formatCaseNumber(sigma) + " dyne/cm at " + kelvin(T)};
      if (!(theta <= kMostSurfaceEnergy))
        return CaseProblem{"material.surface_tension_a", formatCaseNumber(mat.surfaceTensionA),
                           "a surface tension whose monomer surface energy pi d1^2 sigma is at "
                           "most 230 kT at the run's temperatures; with surface_tension_b = " +
                               formatCaseNumber(mat.surfaceTensionB) + " it is " +
                               showNumber(theta) + " kT at " + kelvin(T) + " (sigma " +
                               formatCaseNumber(sigma) + " dyne/cm)"};
    }
  }
  const bool fuchs = m.kernel == KernelForm::Fuchs && (m.coagulation || m.growth);
  const bool tube = c.reactor.tubeDiameter > 0.0;
  if (fuchs || tube) {
    // A + B T > 0 over the run (else mu < 0 at its low end) leaves mu's extremes at the ends
    // and, for B < 0, a minimum at T = -3 B.
    std::vector<double> temperatures(ends, ends + 2);
    if (-3.0 * c.gas.sutherlandB > span.low && -3.0 * c.gas.sutherlandB < span.high)
      temperatures.push_back(-3.0 * c.gas.sutherlandB);
    for (double T : temperatures) {
      const double mu = std::pow(T, 1.5) * c.gas.sutherlandA / (c.gas.sutherlandB + T);
      if (!kViscosityRange.contains(mu))
        return CaseProblem{"gas.sutherland_a", formatCaseNumber(c.gas.sutherlandA),
                           std::string("Sutherland constants whose viscosity A T^1.5 / (B + T) "
                                       "is from 1e-7 to 0.01 Pa s at the run's temperatures "
                                       "for ") +
                               (fuchs ? "the Fuchs kernel" : "the diffusion to the tube's wall") +
                               "; with sutherland_b = " +
                               formatCaseNumber(c.gas.sutherlandB) + " it is " +
                               formatCaseNumber(mu) + " Pa s at " + kelvin(T)};
    }
  }
  return std::nullopt;
}

}  // namespace aerosol
