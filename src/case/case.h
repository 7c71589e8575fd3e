#pragma once
// A simulate case: everything one run of the ODE model needs, as a plain record of the
// property records (material, carrier gas, grid, history) and the run's choices. It comes
// from a TOML case file, a legacy run folder (main.inp and coag.inp or grow.inp) or a Python
// dict; every reader fills the same record, and the model and the integrator read only this.
// Units are SI unless a field says otherwise; figures that users type in other units
// (dyne/cm, atm, nm) keep those units here and are converted where they are used, as the
// fixed-step processes do.

#include <string>
#include <vector>

#include <optional>

#include "coagulation/node_grid.h"
#include "properties/aggregates.h"
#include "properties/carrier_gas.h"
#include "properties/gas_history.h"
#include "properties/material.h"
#include "properties/reactor.h"

namespace aerosol {

enum class VaporMode { None, Depleted, Held };

struct Mechanisms {
  bool nucleation = false;
  bool coagulation = false;
  KernelForm kernel = KernelForm::FreeMolecular;
  double constantKernel = 0.0;  // m3/s, with kernel = Constant
  double additiveKernel = 0.0;  // 1/s, with kernel = Additive: beta = b (v_i + v_j)
  bool growth = false;
  VaporMode vapor = VaporMode::None;  // None: node 1 holds particles (pure coagulation)
};

enum class ParticleInit { None, Monodisperse, SeededNode, Lognormal, Exponential };

struct InitialState {
  // Vapour (node 1) at t = 0, when there is a vapour: a saturation ratio at the starting
  // temperature, or a concentration in #/m3 (the one that is > 0 is used).
  double saturationRatio = 0.0;
  double monomerConcentration = 0.0;  // #/m3
  ParticleInit particles = ParticleInit::None;
  // nm: monodisperse diameter, lognormal geometric mean, or the diameter of the exponential's
  // mean volume
  double diameter = 0.0;
  double concentration = 0.0;  // #/m3: number of particles
  int seedNode = 0;            // SeededNode: 2..n with a vapour, 1..n without
  double geometricStd = 0.0;   // Lognormal: sigma_g > 1
  double primaryDiameter = 0.0;  // nm: aggregates of primaries of this size; 0: spheres
};

enum class EndRule { Time, Temperature };

struct EndCondition {
  EndRule rule = EndRule::Time;
  double time = 0.0;         // s (Time)
  double temperature = 0.0;  // K (Temperature): the run ends when T reaches it
};

// Defaults: the long nucleation-coagulation cooling ends within 1e-6 of a run at 1e-6 in
// number, mean diameter and sigma_g; an absolute 1e-3 #/m3 is far below any concentration
// that matters and costs little, since nodes that empty just stop being resolved.
struct Tolerances {
  double relative = 1e-4;
  double absolute = 1e-3;  // #/m3, on every concentration
  long maxSteps = 500000;  // internal steps over the whole run before giving up
};

enum class TimeSpacing { Linear, Logarithmic };

struct OutputSpec {
  std::string file;  // NetCDF path; "" = the default (case name with .nc)
  int times = 101;   // output times, t = 0 and the end included
  TimeSpacing spacing = TimeSpacing::Linear;
};

struct SimulationCase {
  std::string source;      // case file path or legacy folder, for messages
  std::string sourceText;  // the case file's text (TOML; for a legacy folder, --print-case's)
  int legacyProcess = 0;   // 1..4 when the case came from a legacy folder, else 0
  MaterialProperties material;
  CarrierGasProperties gas;
  GridSpec grid;
  Mechanisms mechanisms;
  // Present: particles are aggregates, each node carrying its particles' surface area.
  std::optional<AggregateProperties> aggregates;
  InitialState initial;
  TemperatureHistory temperature;
  EndCondition end;
  ReactorConditions reactor;      // expansion, dilution, walls (none in a legacy folder)
  PrecursorProperties precursor;  // a reacting precursor, when present
  Tolerances tolerances;
  OutputSpec output;
};

// Reading a case: true with `result` filled, or false with `message` naming the file, the
// line, the key, the value found and what was expected.
// A case file or a legacy run folder, whichever `path` is: what the command line and the
// Python module read.
bool readCase(const std::string& path, SimulationCase& result, std::string& message);
bool readCaseFile(const std::string& path, SimulationCase& result, std::string& message);
bool parseCaseText(const std::string& text, const std::string& sourceName,
                   SimulationCase& result, std::string& message);
// A legacy run folder: the model that process 1, 2, 3 or 4 of that folder describes.
bool readLegacyFolder(const std::string& folder, SimulationCase& result, std::string& message);
// The case as a TOML case file that parseCaseText reads back to the same record.
std::string caseToToml(const SimulationCase& simulationCase);
// Warnings about a case that is read but doubtful, one line each, without a prefix: initial
// particles of which more than 1e-3 of the number or volume lie beyond the grid, and a
// library material's fit that the run's temperatures (up to the end) leave, per property.
std::vector<std::string> caseWarnings(const SimulationCase& simulationCase);

}  // namespace aerosol
