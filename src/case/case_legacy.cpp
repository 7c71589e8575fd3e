// A legacy run folder (main.inp, and coag.inp or grow.inp) as a case: the model that
// process 1, 2, 3 or 4 of that folder runs, read by the processes' own readers.

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "case/case.h"
#include "case/case_checks.h"
#include "coagulation/node_grid.h"
#include "nucleation/nucleation.h"
#include "processes/processes.h"
#include "processes/run_settings.h"

namespace aerosol {
namespace {

// Input files are a few hundred bytes; anything beyond this is not one of them.
constexpr std::uintmax_t kLargestInput = 1 << 20;

std::string inFolder(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The processes open their inputs for update; simulate only reads them.
bool readInput(const std::string& folder, const char* name, std::string& text,
               std::string& message) {
  const std::string path = inFolder(folder, name);
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    message = path + ": cannot be opened: " + std::strerror(errno);
    return false;
  }
  text.clear();
  char buffer[4096];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(file.gcount()));
    if (text.size() > kLargestInput) {
      message = path + ": larger than " + std::to_string(kLargestInput) +
                " bytes; expected a short input file";
      return false;
    }
  }
  if (file.bad()) {
    message = path + ": read error";
    return false;
  }
  return true;
}

}  // namespace

bool readLegacyFolder(const std::string& folder, SimulationCase& result, std::string& message) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    message = folder + ": not a folder; expected a run folder with main.inp";
    return false;
  }
  std::string text;
  if (!readInput(folder, "main.inp", text, message)) return false;
  RunSettings settings;
  std::string problem;
  // The readers' messages start with the file's name; the folder goes in front of it.
  if (!parseRunSettings(text, settings, problem)) {
    message = inFolder(folder, problem);
    return false;
  }
  if (settings.process < 1 || settings.process > 4) {
    message = inFolder(folder, "main.inp") + ": process " + std::to_string(settings.process) +
              ": expected a process from 1 to 4 (nothing to simulate)";
    return false;
  }
  // The processes stop at 200 nodes for their tables; the integrator takes grids up to 400.
  RunSettings checked = settings;
  if (settings.nodeCount > kMaxNodeCount) checked.nodeCount = kMaxNodeCount;
  problem = checkRunSettings(checked);
  if (problem.empty() && settings.nodeCount > kMostNodes)
    problem = "main.inp: \"Number of nodes:\" (nodeCount) is " +
              std::to_string(settings.nodeCount) + ", expected a whole number from " +
              std::to_string(kFewestNodes) + " to " + std::to_string(kMostNodes);
  if (!problem.empty()) {
    message = inFolder(folder, problem);
    return false;
  }

  SimulationCase c;
  c.source = folder;
  c.legacyProcess = settings.process;
  c.grid.nodeCount = settings.nodeCount;
  c.grid.spacingFactor = settings.spacingFactor;
  c.gas = carrierGasOf(settings);
  c.mechanisms.kernel = kernelFormOf(settings);
  c.material.density = settings.density;

  if (settings.process == 1) {
    if (!readInput(folder, "coag.inp", text, message)) return false;
    CoagulationSettings coag;
    if (!parseCoagulationSettings(text, settings, coag, problem)) {
      message = inFolder(folder, problem);
      return false;
    }
    // Pure coagulation at coag.inp's temperature: the seeds sit in node 1, which is the
    // seed volume, until t = 0.01 s. Only the density of the material is used.
    c.grid.firstVolume = volumeOfDiameterNm(coag.initialDiameter);
    c.grid.diameterExponent = kThirdSeven;
    c.mechanisms.coagulation = true;
    c.mechanisms.vapor = VaporMode::None;
    c.initial.particles = ParticleInit::SeededNode;
    c.initial.seedNode = 1;
    c.initial.concentration = coag.initialConcentration;
    c.temperature.law = TemperatureLaw::Constant;
    c.temperature.start = coag.temperature;
    c.end.rule = EndRule::Time;
    c.end.time = 0.01;
  } else {
    // A cooling vapour from the starting temperature to 300 K, on a grid that starts at the
    // monomer, with the vapour pressure exp(C - D/T) P.
    c.material = materialOf(settings);
    c.grid.firstVolume = settings.monomerVolume;
    c.grid.diameterExponent = settings.process == 2 ? kThirdSeven : kThirdSix;
    c.temperature.law = TemperatureLaw::CoolingRate;
    c.temperature.start = settings.startTemperature;
    c.temperature.coolingRate = settings.coolingRate;
    c.end.rule = EndRule::Temperature;
    c.end.temperature = 300.0;
    // The processes' starting vapour, 1.001 times saturation, to the last bit.
    c.initial.monomerConcentration =
        initialMonomerConcentration(c.material, settings.pressure, settings.startTemperature);
    if (settings.process == 4) {
      if (!readInput(folder, "grow.inp", text, message)) return false;
      SeedSettings seed;
      if (!parseSeedSettings(text, settings, seed, problem)) {
        message = inFolder(folder, problem);
        return false;
      }
      // Growth alone, in a vapour held at its start; the monomers' collision rates are the
      // free-molecular ones whatever main.inp chooses.
      c.mechanisms.growth = true;
      c.mechanisms.vapor = VaporMode::Held;
      c.mechanisms.kernel = KernelForm::FreeMolecular;
      c.initial.particles = ParticleInit::SeededNode;
      c.initial.seedNode = seed.seedNode;
      c.initial.concentration = seed.seedConcentration;
      // Process 4 never reads the Sutherland constants.
      c.gas.sutherlandA = 0.0;
      c.gas.sutherlandB = 0.0;
    } else {
      c.mechanisms.nucleation = true;
      c.mechanisms.coagulation = true;
      c.mechanisms.growth = settings.process == 3;
      c.mechanisms.vapor = VaporMode::Depleted;
    }
  }
  // The case must also be one that a case file can give: the checks the processes leave out
  // (an end that is reached, a positive surface tension), in a case file's words.
  if (const std::optional<CaseProblem> refused = checkCase(c)) {
    message = folder + ": this run folder cannot be simulated; as a case file, " +
              refused->key + " = " + refused->value + ": expected " + refused->expected;
    return false;
  }
  c.sourceText = caseToToml(c);
  result = std::move(c);
  return true;
}

bool readCase(const std::string& path, SimulationCase& result, std::string& message) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return readLegacyFolder(path, result, message);
  return readCaseFile(path, result, message);
}

}  // namespace aerosol
