#pragma once
// What the results of a simulate run hold, as data: every variable with its units and long
// name, and the global attributes. The NetCDF file and the Python module's Dataset are both
// built from these tables, so the two cannot drift apart.

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "simulate/case.h"
#include "simulate/simulation.h"

namespace aerosol {

// The scalar time series: name, units, long name, and where the sample keeps it.
struct SeriesVariable {
  const char* name;
  const char* units;
  const char* longName;
  double OutputSample::*field;
};

inline constexpr SeriesVariable kOutputSeries[] = {
    {"temperature", "K", "gas temperature", &OutputSample::temperature},
    {"pressure", "atm", "gas pressure", &OutputSample::pressure},
    {"monomer_concentration", "m-3", "number concentration of vapour monomers (0 without a vapour)",
     &OutputSample::monomerConcentration},
    {"saturation_ratio", "1", "saturation ratio of the vapour (0 without a vapour)",
     &OutputSample::saturationRatio},
    {"nucleation_rate", "m-3 s-1", "classical homogeneous nucleation rate",
     &OutputSample::nucleationRate},
    {"critical_diameter", "m", "diameter of the critical cluster (0 while S <= 1)",
     &OutputSample::criticalDiameter},
    {"total_number", "m-3", "number concentration of particles (vapour node left out)",
     &OutputSample::totalNumber},
    {"particle_volume", "m3 m-3", "volume of particles per volume of gas",
     &OutputSample::particleVolume},
    {"total_volume", "m3 m-3", "volume of particles and vapour monomers per volume of gas",
     &OutputSample::totalVolume},
    {"mean_diameter", "m", "number-mean particle diameter (NaN without particles)",
     &OutputSample::meanDiameter},
    {"geometric_std", "1",
     "geometric standard deviation of the particle number distribution (NaN without particles)",
     &OutputSample::geometricStd},
};

// The integrator's cumulative counts, stored as 32-bit integers with units "1".
struct CountVariable {
  const char* name;
  const char* longName;
  long IntegratorCounts::*field;
};

inline constexpr CountVariable kOutputCounts[] = {
    {"steps", "integrator steps taken since t = 0", &IntegratorCounts::steps},
    {"rhs_evaluations", "right-hand side evaluations since t = 0 (difference quotients included)",
     &IntegratorCounts::rhsEvaluations},
    {"jacobian_evaluations", "Jacobian evaluations since t = 0",
     &IntegratorCounts::jacobianEvaluations},
    {"error_test_failures", "steps rejected by the local error test since t = 0",
     &IntegratorCounts::errorTestFailures},
    {"convergence_failures", "nonlinear solver convergence failures since t = 0",
     &IntegratorCounts::convergenceFailures},
};

// Counts are cumulative and stay far below 2^31 in any run that finishes (the step limit is
// a case setting); a larger one is stored as the largest int rather than wrapped.
inline int storedCount(long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < 0) return 0;
  return static_cast<int>(value);
}

// The time and node coordinates and the per-node variables, whose long names say whether
// node 1 holds the vapour.
struct LayoutVariable {
  const char* name;
  const char* units;
  const char* longName;
};

struct GridLayout {
  LayoutVariable time, node, volume, diameter, concentration;
};

inline GridLayout gridLayout(bool nodeOneIsVapor) {
  return {
      {"time", "s", "time since the start of the run"},
      {"node", "1",
       nodeOneIsVapor ? "node number (node 1 holds the vapour monomers)" : "node number"},
      {"volume", "m3", "volume of a particle (or monomer) at the node"},
      {"diameter", "m", "diameter of a particle (or monomer) at the node"},
      {"concentration", "m-3",
       nodeOneIsVapor ? "number concentration at the node (node 1: vapour monomers)"
                      : "number concentration of particles at the node"},
  };
}

// The global text attributes in the file's order; first_particle_node (an integer) and
// run_end follow them.
inline std::vector<std::pair<std::string, std::string>> globalTextAttributes(
    const SimulationCase& simulationCase, const std::string& version) {
  return {
      {"title", "aerosol simulate: nodal size distribution"},
      {"source", "aerosol " + version +
                     " simulate: nodal (sectional) model integrated by SUNDIALS CVODE (BDF)"},
      {"program_version", version},
      {"case_source", simulationCase.source},
      {"case", simulationCase.sourceText},
  };
}

inline int firstParticleNode(const OutputGrid& grid) { return grid.nodeOneIsVapor ? 2 : 1; }

}  // namespace aerosol
