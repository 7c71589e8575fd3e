#pragma once
// The four simulation drivers. Each owns its tables for the whole run, prints its tables to
// standard output and returns the run's exit status.

#include <string>

#include "engine/pass_kernels.h"
#include "processes/run_settings.h"

namespace aerosol {

// Dispatches on the process number and returns the run's exit status; the second form runs
// the step's heavy work through the given kernels (the first uses the program's own).
int runProcess(const RunSettings& settings);
int runProcess(const RunSettings& settings, PassKernels& kernels);

// Process 1: coagulation of a monodisperse aerosol (coag.inp) towards the self-preserving
// distribution, at constant temperature, until t = 0.01 s.
int runCoagulation(const RunSettings& settings, PassKernels& kernels);

// Process 2: nucleation of a cooling vapour, with coagulation, down to 300 K.
int runNucleationCoagulation(const RunSettings& settings, PassKernels& kernels);

// Process 3: nucleation, coagulation and surface growth, down to 300 K.
int runNucleationCoagulationGrowth(const RunSettings& settings, PassKernels& kernels);

// Process 4: condensation on (or evaporation from) seeded particles (grow.inp) in a cooling
// vapour held at its starting concentration, down to 300 K.
int runSeededGrowth(const RunSettings& settings, PassKernels& kernels);

struct CoagulationSettings {
  double initialDiameter = 0.0;      // nm
  double initialConcentration = 0.0; // #/m3
  double temperature = 0.0;          // K
};

struct SeedSettings {
  int seedNode = 0;
  double seedConcentration = 0.0;    // #/m3
};

// Readers of the two mode files, shared with the tests and fuzzers: scan, then check. They
// return false with a message naming the file, the label, the value and what was expected.
bool parseCoagulationSettings(const std::string& text, const RunSettings& settings,
                              CoagulationSettings& coag, std::string& message);
bool parseSeedSettings(const std::string& text, const RunSettings& settings, SeedSettings& seed,
                       std::string& message);

}  // namespace aerosol
