// A case as a TOML case file: what --print-case shows, and what parseCaseText reads back to
// the same record (every double in the shortest form that reads back to the same bits).

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "case/case.h"
#include "case/case_text.h"
#include "properties/constants.h"

namespace aerosol {

std::string formatCaseNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // Plain digits for everyday magnitudes, otherwise the shortest mantissa with a plain
  // exponent ("2.2245e20", "1e-4").
  char buffer[64];
  const double size = std::fabs(value);
  const bool plain = size == 0.0 || (size >= 1e-3 && size < 1e7);
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    plain ? std::chars_format::fixed
                                          : std::chars_format::scientific);
  std::string text(buffer, result.ptr);
  const std::size_t e = text.find('e');
  if (e == std::string::npos) return text;
  std::string exponent = text.substr(e + 1);
  const bool negative = exponent[0] == '-';
  exponent.erase(0, exponent.find_first_not_of("+-"));
  exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
  return text.substr(0, e + 1) + (negative ? "-" : "") + exponent;
}

namespace {

// A double as a TOML float: "1500.0" rather than the integer "1500".
std::string real(double value) {
  std::string text = formatCaseNumber(value);
  if (text.find_first_of(".eE") == std::string::npos && text.find("inf") == std::string::npos &&
      text.find("nan") == std::string::npos)
    text += ".0";
  return text;
}

std::string basicString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

const char* processName(int process) {
  switch (process) {
    case 1: return "coagulation of a monodisperse aerosol";
    case 2: return "nucleation and coagulation of a cooling vapour";
    case 3: return "nucleation, coagulation and surface growth of a cooling vapour";
    case 4: return "surface growth of seeded particles in a held vapour";
    default: return "";
  }
}

}  // namespace

std::string caseToToml(const SimulationCase& c) {
  std::string out;
  auto line = [&out](const std::string& text) { out += text + "\n"; };
  auto entry = [&out](const char* key, const std::string& value, const char* unit) {
    out += std::string(key) + " = " + value;
    if (unit != nullptr && *unit != '\0') out += "  # " + std::string(unit);
    out += "\n";
  };
  const Mechanisms& m = c.mechanisms;
  const bool vapor = m.vapor != VaporMode::None;

  line("# aerosol simulate case");
  if (c.legacyProcess >= 1 && c.legacyProcess <= 4)
    line("# The model that process " + std::to_string(c.legacyProcess) + " of the run folder " +
         c.source + " describes:\n# " + processName(c.legacyProcess) + ".");
  line("");

  line("[mechanisms]");
  entry("nucleation", m.nucleation ? "true" : "false", nullptr);
  entry("coagulation", m.coagulation ? "true" : "false", nullptr);
  entry("growth", m.growth ? "true" : "false", nullptr);
  entry("kernel",
        m.kernel == KernelForm::Fuchs      ? "\"fuchs\""
        : m.kernel == KernelForm::Constant ? "\"constant\""
        : m.kernel == KernelForm::Additive ? "\"additive\""
                                           : "\"free-molecular\"",
        "collisions of coagulation and of the monomers in growth");
  if (m.kernel == KernelForm::Constant)
    entry("constant_kernel", real(m.constantKernel), "m3/s, a test kernel");
  if (m.kernel == KernelForm::Additive)
    entry("additive_kernel", real(m.additiveKernel), "1/s, a test kernel: b (v_i + v_j)");
  entry("vapor",
        m.vapor == VaporMode::Depleted ? "\"depleted\""
        : m.vapor == VaporMode::Held   ? "\"held\""
                                       : "\"none\"",
        vapor ? "node 1 is the monomer" : "no vapour: every node holds particles");
  line("");

  const MaterialProperties& mat = c.material;
  line("[material]");
  // A library material is written with every figure the run uses, so that the case reads
  // back the same whatever the library holds by then.
  const bool named = !mat.name.empty();
  if (named)
    entry("name", basicString(mat.name), "from the library; the figures below are the run's");
  entry("density", real(mat.density), "kg/m3");
  // Without a vapour only the density is used; the rest is written when it was given.
  const bool vaporProperties = vapor || named || mat.molarMass != 0.0 ||
                               mat.surfaceTensionA != 0.0 || mat.surfaceTensionB != 0.0 ||
                               mat.vaporPressureC != 0.0 || mat.vaporPressureD != 0.0;
  if (vaporProperties) {
    if (vapor || named || mat.molarMass != 0.0)
      entry("molar_mass", real(mat.molarMass), "kg/mol");
    entry("surface_tension_a", real(mat.surfaceTensionA), "dyne/cm, sigma = A - B T");
    entry("surface_tension_b", real(mat.surfaceTensionB), "dyne/(cm K)");
    entry("vapor_pressure_c", real(mat.vaporPressureC), "Ps = exp(C - D/T) atm");
    entry("vapor_pressure_d", real(mat.vaporPressureD), "K");
  }
  if (mat.factorIsGasPressure)
    entry("vapor_pressure_times_gas_pressure", "true",
          "Ps = exp(C - D/T) P, as the input-file processes read it");
  else if (mat.vaporPressureFactor != 1.0)
    entry("vapor_pressure_factor", real(mat.vaporPressureFactor), "atm, Ps = exp(C - D/T) factor");
  line("");

  const TemperatureHistory& h = c.temperature;
  const bool tablePressure = h.givesPressure();
  line("[gas]");
  if (!tablePressure) entry("pressure", real(c.gas.pressure), "atm");
  entry("sutherland_a", real(c.gas.sutherlandA), "Pa s K^-0.5, mu = A T^1.5 / (B + T)");
  entry("sutherland_b", real(c.gas.sutherlandB), "K");
  entry("molar_mass", real(c.gas.molarMass),
        "kg/mol, in the mean free path mu / P sqrt(pi R T / (2 M)); air 0.02897, argon 0.040");
  line("");

  const GridSpec& g = c.grid;
  const bool monomerGrid =
      vapor || (c.precursor.present && c.precursor.product == PrecursorProduct::Particles);
  line("[grid]");
  entry("nodes", std::to_string(g.nodeCount), nullptr);
  if (g.spacingFactor > 0.0) entry("spacing", real(g.spacingFactor), "v(k+1) / v(k)");
  if (!monomerGrid) {
    char diameter[32];
    std::snprintf(diameter, sizeof diameter, "%.6g",
                  std::cbrt(g.firstVolume * 6.0 / kPi) * 1e9);
    entry("first_volume", real(g.firstVolume),
          ("m3, node 1 (a diameter of " + std::string(diameter) + " nm)").c_str());
  }
  entry("diameter_exponent", real(g.diameterExponent), "d = (6 v / pi)^e");
  line("");

  const InitialState& in = c.initial;
  if (vapor) line("[initial]");
  if (vapor) {
    if (in.saturationRatio > 0.0)
      entry("saturation_ratio", real(in.saturationRatio), "at the start");
    else
      entry("monomer_concentration", real(in.monomerConcentration),
            c.legacyProcess >= 2 ? "#/m3, 1.001 times the saturation concentration at the start"
                                 : "#/m3");
  }
  if (in.particles != ParticleInit::None) {
    if (vapor) line("");
    line("[initial.particles]");
    if (in.particles == ParticleInit::SeededNode) {
      entry("kind", "\"node\"", nullptr);
      entry("node", std::to_string(in.seedNode), nullptr);
    } else if (in.particles == ParticleInit::Monodisperse) {
      entry("kind", "\"monodisperse\"", nullptr);
      entry("diameter", real(in.diameter), "nm");
    } else if (in.particles == ParticleInit::Exponential) {
      entry("kind", "\"exponential\"", nullptr);
      entry("diameter", real(in.diameter), "nm, of the mean volume v0 in n(v) = (N/v0) exp(-v/v0)");
    } else {
      entry("kind", "\"lognormal\"", nullptr);
      entry("diameter", real(in.diameter), "nm, geometric mean");
      entry("sigma_g", real(in.geometricStd), "geometric standard deviation");
    }
    entry("concentration", real(in.concentration), "#/m3");
    if (in.primaryDiameter > 0.0)
      entry("primary_diameter", real(in.primaryDiameter), "nm, the aggregates' primaries");
  }
  line("");

  if (c.aggregates) {
    const AggregateProperties& a = *c.aggregates;
    const SinteringLaw& law = a.sintering;
    line("[aggregates]");
    entry("fractal_dimension", real(a.fractalDimension), "D_f in n_p = k_f (d_c / d_p)^D_f");
    entry("prefactor", real(a.prefactor), "k_f");
    const char* const forms[] = {"grain-boundary", "viscous-flow", "solid-state", "instant",
                                 "none"};
    entry("sintering", "\"" + std::string(forms[static_cast<int>(law.form)]) + "\"",
          law.source.empty() ? nullptr : law.source.c_str());
    if (law.relaxes()) {
      entry("sintering_a", real(law.prefactor),
            law.form == SinteringForm::GrainBoundary ? "s/(m4 K)"
            : law.form == SinteringForm::ViscousFlow ? "s/m"
                                                     : "s/(m3 K)");
      entry("sintering_activation_temperature", real(law.activationTemperature), "K");
      entry("sintering_min_diameter", real(law.minDiameter), "m");
    }
    line("");
  }

  line("[temperature]");
  if (h.law == TemperatureLaw::Constant) {
    entry("law", "\"constant\"", nullptr);
    entry("start", real(h.start), "K");
  } else if (h.law == TemperatureLaw::CoolingRate) {
    entry("law", "\"cooling\"", nullptr);
    entry("start", real(h.start), "K");
    entry("cooling_rate", real(h.coolingRate), "K/s, T = start - rate t");
  } else {
    entry("law", "\"table\"", nullptr);
    line(tablePressure ? "# time (s), temperature (K), pressure (atm)"
                       : "# time (s), temperature (K)");
    line("table = [");
    for (const TemperaturePoint& p : h.table) {
      out += "  [" + real(p.time) + ", " + real(p.temperature);
      if (tablePressure) out += ", " + real(p.pressure);
      out += "],\n";
    }
    line("]");
  }
  line("");

  line("[end]");
  if (c.end.rule == EndRule::Time)
    entry("time", real(c.end.time), "s");
  else
    entry("temperature", real(c.end.temperature), "K");
  line("");

  // Written whole, so that the case reads back the same: a case file's expansion is on
  // unless it says otherwise, a legacy folder's is off.
  const ReactorConditions& reactor = c.reactor;
  line("[reactor]");
  entry("expansion", reactor.expansion ? "true" : "false",
        reactor.expansion ? "concentrations follow the gas density P/T"
                          : "a closed, rigid volume");
  if (!reactor.dilution.table.empty()) {
    line("# time (s), dilution rate (1/s)");
    line("dilution_rate = [");
    for (const RatePoint& p : reactor.dilution.table)
      out += "  [" + real(p.time) + ", " + real(p.rate) + "],\n";
    line("]");
  } else if (reactor.dilution.constant != 0.0) {
    entry("dilution_rate", real(reactor.dilution.constant), "1/s");
  }
  if (reactor.tubeDiameter > 0.0)
    entry("tube_diameter", real(reactor.tubeDiameter), "m, diffusion to the wall, laminar flow");
  if (reactor.wallLossRate != 0.0)
    entry("wall_loss_rate", real(reactor.wallLossRate), "1/s, size-independent");
  line("");

  const PrecursorProperties& p = c.precursor;
  if (p.present) {
    line("[precursor]");
    entry("concentration", real(p.concentration), "molecules/m3 at t = 0");
    entry("rate_a", real(p.rateA), "1/s, k = rate_a exp(-activation_temperature / T)");
    entry("activation_temperature", real(p.activationTemperature), "K");
    entry("product", p.product == PrecursorProduct::Particles ? "\"particles\"" : "\"vapor\"",
          p.product == PrecursorProduct::Particles ? "stable particles of monomer size"
                                                   : "one vapour monomer per molecule");
    line("");
  }

  const Tolerances& t = c.tolerances;
  line("[tolerances]");
  entry("relative", real(t.relative), nullptr);
  entry("absolute", real(t.absolute), "#/m3");
  entry("max_steps", std::to_string(t.maxSteps), nullptr);
  line("");

  const OutputSpec& o = c.output;
  line("[output]");
  if (!o.file.empty()) entry("file", basicString(o.file), nullptr);
  entry("times", std::to_string(o.times), "t = 0 and the end included");
  entry("spacing", o.spacing == TimeSpacing::Logarithmic ? "\"log\"" : "\"linear\"", nullptr);
  return out;
}

}  // namespace aerosol
