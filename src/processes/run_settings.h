#pragma once
// The run's settings from main.inp, the rule by which every input file is opened, and the
// checks that refuse values no process can run with.

#include <cstdio>
#include <string>
#include <vector>

#include "coagulation/node_grid.h"
#include "common/console.h"
#include "common/exit_status.h"
#include "engine/pass_kernels.h"
#include "processes/template_scan.h"
#include "properties/carrier_gas.h"
#include "properties/material.h"

namespace aerosol {


// Cooling runs that need more passes than this get a warning before they start (a pass takes
// a few microseconds: 1e9 passes are an hour or more) ...
inline constexpr double kLongRunPasses = 1e9;
// ... and more than this are refused: weeks of computing, most likely a mistyped rate.
inline constexpr double kMostPasses = 1e12;

// Node counts that main.inp may give: the grid's fewest, and at most 200 (the classic
// processes' own limit; the simulate front door takes the engine's largest grids).
inline constexpr int kMinNodeCount = kFewestNodes;
inline constexpr int kMaxNodeCount = 200;

struct RunSettings {
  int nodeCount = 0;
  double startTemperature = 0.0;   // K
  double coolingRate = 0.0;        // K/s
  double pressure = 0.0;           // atm
  double molecularWeight = 0.0;    // kg/mol
  double density = 0.0;            // kg/m3
  double surfaceTensionA = 0.0;    // dyne/cm
  double surfaceTensionB = 0.0;    // dyne/(cm K)
  double vaporPressureC = 0.0;     // none
  double vaporPressureD = 0.0;     // K
  int process = 0;
  int collisionFunction = 0;       // 1 free molecular, 2 Fuchs
  double sutherlandA = 0.0;        // Pa s K^-0.5
  double sutherlandB = 0.0;        // K
  double spacingFactor = 0.0;      // ratio of successive node volumes
  double monomerVolume = 0.0;      // m3
};

// The records that the physics and the engine read, as main.inp gives them: the material
// with the input files' vapour-pressure law exp(C - D/T) P, the carrier gas at its pressure,
// and the kernel that collisionFunction chooses.
MaterialProperties materialOf(const RunSettings& settings);
CarrierGasProperties carrierGasOf(const RunSettings& settings);
KernelForm kernelFormOf(const RunSettings& settings);
CollisionModel collisionModelOf(const RunSettings& settings);
// The step engine's set-up of a run of these settings with particles from node `first`.
EngineSetup engineSetupOf(const RunSettings& settings, int firstParticleNode);

// Opens an input file for reading and update. On failure prints the classic warning on
// standard output, the file and the reason on standard error, and returns nullptr; the
// caller then ends the run with kExitOpenFailure.
std::FILE* openInputFile(const char* fileName);

// Reads a whole opened file into memory; false (with a message on standard error) when it
// cannot be read or is far larger than any input file.
bool readWholeFile(std::FILE* file, const char* fileName, std::string& text);

// The template of main.inp as fields that fill `settings`.
std::vector<TemplateField> mainInputTemplate(RunSettings& settings);

// Scans the text of main.inp into `settings` and derives the spacing factor and the monomer
// volume. Returns false with `message` set when a value could not be read.
bool parseRunSettings(const std::string& text, RunSettings& settings, std::string& message);

// Checks the fields that the chosen process reads. Returns an empty string when the run
// can go ahead, otherwise the reason.
std::string checkRunSettings(const RunSettings& settings);

// A lower bound on the number of passes a cooling run (processes 2 to 4) takes from its
// starting temperature down to 300 K: 0 when it starts at or below 300 K (or for process 1),
// infinity when it does not cool. `fineStep` receives the time step (s) of the phase that
// the bound counts.
double estimatePasses(const RunSettings& settings, double* fineStep = nullptr);

// Carrier-gas viscosity must be positive wherever the Fuchs form is evaluated. Returns an
// empty string when it is, otherwise the reason, without a file name in front.
std::string checkViscosity(const RunSettings& settings, double temperature,
                           const char* where);

// Opens, scans and closes main.inp. Returns kExitSuccess with `settings` filled, or the
// exit status with which the run must end.
int readRunSettings(RunSettings& settings);

}  // namespace aerosol
