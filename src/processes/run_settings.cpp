#include "processes/run_settings.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace aerosol {

MaterialProperties materialOf(const RunSettings& s) {
  MaterialProperties m;
  m.molarMass = s.molecularWeight;
  m.density = s.density;
  m.surfaceTensionA = s.surfaceTensionA;
  m.surfaceTensionB = s.surfaceTensionB;
  m.vaporPressureC = s.vaporPressureC;
  m.vaporPressureD = s.vaporPressureD;
  m.vaporPressureFactor = s.pressure;
  m.factorIsGasPressure = true;
  return m;
}

CarrierGasProperties carrierGasOf(const RunSettings& s) {
  CarrierGasProperties g;
  g.pressure = s.pressure;
  g.sutherlandA = s.sutherlandA;
  g.sutherlandB = s.sutherlandB;
  return g;
}

KernelForm kernelFormOf(const RunSettings& s) {
  return s.collisionFunction == 2 ? KernelForm::Fuchs : KernelForm::FreeMolecular;
}

CollisionModel collisionModelOf(const RunSettings& s) {
  CollisionModel model;
  model.form = kernelFormOf(s);
  model.density = s.density;
  model.gas = carrierGasOf(s);
  return model;
}

EngineSetup engineSetupOf(const RunSettings& s, int firstParticleNode) {
  return {collisionModelOf(s), firstParticleNode};
}

std::FILE* openInputFile(const char* fileName) {
  std::FILE* file = std::fopen(fileName, "r+");
  if (file == nullptr) {
    const int reason = errno;
    std::fputs("Warning: Could not open file", stdout);
    std::fprintf(stderr, "aerosol: %s: %s (input files are opened for reading and update)\n",
                 fileName, std::strerror(reason));
  }
  return file;
}

bool readWholeFile(std::FILE* file, const char* fileName, std::string& text) {
  // Input files are a few hundred bytes; anything beyond this is not one of them.
  constexpr std::size_t kLargestInput = 1 << 20;
  text.clear();
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
    if (text.size() > kLargestInput) {
      std::fprintf(stderr, "aerosol: %s: larger than %zu bytes; expected a short input file\n",
                   fileName, kLargestInput);
      return false;
    }
  }
  if (std::ferror(file)) {
    std::fprintf(stderr, "aerosol: %s: read error: %s\n", fileName, std::strerror(errno));
    return false;
  }
  return true;
}

std::vector<TemplateField> mainInputTemplate(RunSettings& s) {
  using K = ValueKind;
  return {
      {"Number of nodes: ", "Number of nodes:", "nodeCount", K::Integer, &s.nodeCount, nullptr},
      {" Starting Temperature(Kelvin): ", "Starting Temperature(Kelvin):", "startTemperature",
       K::Real, nullptr, &s.startTemperature},
      {" Cooling Rate(Kelvin/s): ", "Cooling Rate(Kelvin/s):", "coolingRate", K::Real, nullptr,
       &s.coolingRate},
      {" Pressure(Atm): ", "Pressure(Atm):", "pressure", K::Real, nullptr, &s.pressure},
      {" Molecular Weight(Kg/mol): ", "Molecular Weight(Kg/mol):", "molecularWeight", K::Real,
       nullptr, &s.molecularWeight},
      {" Density(Kg/m3): ", "Density(Kg/m3):", "density", K::Real, nullptr, &s.density},
      {" Surface Tension in the form A-BT(dyne/cm): A=", "A= (surface tension)",
       "surfaceTensionA", K::Real, nullptr, &s.surfaceTensionA},
      {" B=", "B= (surface tension)", "surfaceTensionB", K::Real, nullptr, &s.surfaceTensionB},
      {" Saturation Vapor Pressure of material in form Ps=exp(C-D/T)P: C=",
       "C= (vapour pressure)", "vaporPressureC", K::Real, nullptr, &s.vaporPressureC},
      {" D=", "D= (vapour pressure)", "vaporPressureD", K::Real, nullptr, &s.vaporPressureD},
      {" Enter your choice - 1)Coagulation,2)nucleation+coagulation,3)nucleation + coagulation "
       "+ surface growth,4)surface growth:",
       "4)surface growth:", "process", K::Integer, &s.process, nullptr},
      {" Choice of collision frequency function:1)Free Molecular Regime,2)Fuchs form for free "
       "molecular and transition regime:",
       "transition regime:", "collisionFunction", K::Integer, &s.collisionFunction, nullptr},
      {" Sutherland's constants for carrier gas in the form A*T^1.5/(B+T): A=",
       "A= (Sutherland)", "sutherlandA", K::Real, nullptr, &s.sutherlandA},
      {" B=", "B= (Sutherland)", "sutherlandB", K::Real, nullptr, &s.sutherlandB},
  };
}

bool parseRunSettings(const std::string& text, RunSettings& settings, std::string& message) {
  const std::vector<TemplateField> fields = mainInputTemplate(settings);
  const ScanOutcome outcome = scanTemplate(text, fields);
  if (outcome.converted < static_cast<int>(fields.size())) {
    message = describeScanFailure("main.inp", text, fields, outcome);
    return false;
  }
  // nodeCount - 2 is formed as an int and converted before the division; with n = 2 this
  // would divide by zero, which the range check refuses before any grid is built.
  settings.spacingFactor = defaultSpacingFactor(settings.nodeCount);
  settings.monomerVolume = monomerVolume(settings.molecularWeight, settings.density);
  return true;
}


namespace {

// "%.3g" of a value, for counts.
std::string showNumber3(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3g", value);
  return buffer;
}

struct Checker {
  std::string problem;

  void fail(const char* label, const char* field, const std::string& value,
            const char* expected) {
    if (!problem.empty()) return;
    problem = std::string("main.inp: \"") + label + "\" (" + field + ") is " + value +
              ", expected " + expected;
  }
  void finite(const char* label, const char* field, double value) {
    if (!std::isfinite(value)) fail(label, field, showNumber(value), "a finite number");
  }
  void positive(const char* label, const char* field, double value) {
    if (!(std::isfinite(value) && value > 0.0))
      fail(label, field, showNumber(value), "a finite number above 0");
  }
};

}  // namespace

std::string checkViscosity(const RunSettings& s, double temperature, const char* where) {
  const double mu = std::pow(temperature, 1.5) * s.sutherlandA / (s.sutherlandB + temperature);
  if (std::isfinite(mu) && mu > 0.0) return {};
  return "Sutherland's constants A=" + showNumber(s.sutherlandA) + " B=" +
         showNumber(s.sutherlandB) + " of main.inp give a carrier-gas viscosity of " +
         showNumber(mu) + " Pa s at " + showNumber(temperature) + " K (" + where +
         "), expected a viscosity above 0 for the Fuchs form";
}

double estimatePasses(const RunSettings& s, double* fineStep) {
  // Processes 2 and 3 step 5e-4 s (process 2) or 1e-4 s, then 1e-5 s once particles exist
  // (process 3), until the first pass that starts after t = 0.14 s, and 5e-8 s from then on;
  // process 4 steps 1e-8 s throughout. When particles appear is not known before the run, so
  // the coarse phase is granted the most it can do: 0.15 s of cooling and no passes counted.
  // A pass cools the gas by T - dt * rate rounded, which takes off at most dt * rate plus
  // half an ulp of T; T only falls, so half an ulp of the starting temperature bounds that.
  // The bound is then (T0 - 300 K - coarse cooling) / (fine step * rate + half an ulp of T0).
  const bool coarsePhase = s.process == 2 || s.process == 3;
  const double step = s.process == 4 ? 1e-08 : 5e-08;
  if (fineStep != nullptr) *fineStep = step;
  if (s.process < 2 || s.process > 4 || !(s.startTemperature > 300.0)) return 0.0;
  if (!(s.coolingRate > 0.0)) return INFINITY;
  const double halfUlp =
      (std::nextafter(s.startTemperature, INFINITY) - s.startTemperature) / 2.0;
  // At most 14,001 coarse passes (0.14 s in steps of 1e-5 s), each with its own rounding.
  const double coarseCooling = coarsePhase ? 0.15 * s.coolingRate + 15000.0 * halfUlp : 0.0;
  const double left = s.startTemperature - 300.0 - coarseCooling;
  if (!(left > 0.0)) return 0.0;
  return left / (step * s.coolingRate + halfUlp);
}


std::string checkRunSettings(const RunSettings& s) {
  if (s.process < 1 || s.process > 4) return {};
  Checker c;
  if (s.nodeCount < kMinNodeCount || s.nodeCount > kMaxNodeCount)
    c.fail("Number of nodes:", "nodeCount", std::to_string(s.nodeCount),
           ("a whole number from " + std::to_string(kMinNodeCount) + " to " +
            std::to_string(kMaxNodeCount))
               .c_str());
  const bool cools = s.process != 1;
  if (cools) {
    c.finite("Starting Temperature(Kelvin):", "startTemperature", s.startTemperature);
    c.finite("Cooling Rate(Kelvin/s):", "coolingRate", s.coolingRate);
  }
  c.positive("Pressure(Atm):", "pressure", s.pressure);
  if (cools) c.positive("Molecular Weight(Kg/mol):", "molecularWeight", s.molecularWeight);
  c.positive("Density(Kg/m3):", "density", s.density);
  if (cools) {
    c.finite("A= (surface tension)", "surfaceTensionA", s.surfaceTensionA);
    c.finite("B= (surface tension)", "surfaceTensionB", s.surfaceTensionB);
    c.finite("C= (vapour pressure)", "vaporPressureC", s.vaporPressureC);
    c.finite("D= (vapour pressure)", "vaporPressureD", s.vaporPressureD);
  }
  const bool coagulates = s.process != 4;
  if (coagulates) {
    if (s.collisionFunction != 1 && s.collisionFunction != 2)
      c.fail("transition regime:", "collisionFunction", std::to_string(s.collisionFunction),
             "1 (free molecular) or 2 (Fuchs form)");
    c.finite("A= (Sutherland)", "sutherlandA", s.sutherlandA);
    c.finite("B= (Sutherland)", "sutherlandB", s.sutherlandB);
  }
  if (!c.problem.empty()) return c.problem;

  // The cooling processes start their grid at the monomer volume; one of 0 (or one whose
  // top node overflows) leaves nothing but divisions by zero and infinities.
  if (cools && !gridVolumesUsable(s.monomerVolume, s.spacingFactor, s.nodeCount))
    return "main.inp: \"Molecular Weight(Kg/mol):\" (molecularWeight) " +
           showNumber(s.molecularWeight) + " and \"Density(Kg/m3):\" (density) " +
           showNumber(s.density) + " give a monomer volume of " + showNumber(s.monomerVolume) +
           " m3, expected values whose monomer volume, and the largest node volume of the grid "
           "built on it, are finite numbers above 0";

  if (cools && s.startTemperature > 300.0) {
    // The run steps until the gas has cooled to 300 K: it must cool, and each step must
    // change the temperature at all, or the run would never end.
    if (!(s.coolingRate > 0.0))
      return "main.inp: \"Cooling Rate(Kelvin/s):\" (coolingRate) is " +
             showNumber(s.coolingRate) +
             ", expected a number above 0 (the gas must cool from the starting temperature " +
             showNumber(s.startTemperature) + " K to 300 K for the run to end)";
    const double smallestStep = s.process == 4 ? 1e-08 : 5e-08;
    if (s.startTemperature - smallestStep * s.coolingRate == s.startTemperature)
      return "main.inp: \"Cooling Rate(Kelvin/s):\" (coolingRate) is " +
             showNumber(s.coolingRate) + ", too small to change the starting temperature " +
             showNumber(s.startTemperature) +
             " K in one time step; expected a larger cooling rate (the run would never end)";
    double fineStep = 0.0;
    const double passes = estimatePasses(s, &fineStep);
    if (passes > kMostPasses)
      return "main.inp: \"Cooling Rate(Kelvin/s):\" (coolingRate) is " +
             showNumber(s.coolingRate) + " K/s and \"Starting Temperature(Kelvin):\" "
             "(startTemperature) " + showNumber(s.startTemperature) +
             " K: cooling to 300 K takes at least " + showNumber3(passes) +
             " time steps of " + showNumber(fineStep) + " s (process " +
             std::to_string(s.process) + "), more than the " + showNumber3(kMostPasses) +
             " a run may take; expected a faster cooling rate or a starting temperature "
             "nearer 300 K";
    if (coagulates && s.collisionFunction == 2) {
      std::string problem = checkViscosity(s, s.startTemperature, "the starting temperature");
      if (problem.empty()) problem = checkViscosity(s, 300.0, "the end temperature");
      if (!problem.empty()) return "main.inp: " + problem;
    }
  }
  return {};
}

int readRunSettings(RunSettings& settings) {
  std::FILE* file = openInputFile("main.inp");
  if (file == nullptr) return kExitOpenFailure;
  std::string text;
  const bool read = readWholeFile(file, "main.inp", text);
  std::fclose(file);
  if (!read) return kExitInputError;
  std::string message;
  if (!parseRunSettings(text, settings, message)) {
    std::fprintf(stderr, "aerosol: %s\n", message.c_str());
    return kExitInputError;
  }
  return kExitSuccess;
}

}  // namespace aerosol
