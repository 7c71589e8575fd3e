#pragma once
// One simulate run: the ODE model of a case integrated by CVODE, with the state handed to a
// results sink at every output time. The sink writes files (NetCDF, CSV) or fills arrays
// (the Python module); the run knows nothing of formats.

#include <functional>
#include <string>
#include <vector>

#include "simulate/case.h"

namespace aerosol {

// The integrator's counts so far.
struct IntegratorCounts {
  long steps = 0;
  long rhsEvaluations = 0;       // right-hand sides, those for difference quotients included
  long jacobianEvaluations = 0;
  long errorTestFailures = 0;    // steps rejected by the error test
  long convergenceFailures = 0;  // nonlinear solver failures
};

// The grid of the run, in the node order of every per-node array (node k at index k - 1).
struct OutputGrid {
  int nodeCount = 0;
  bool nodeOneIsVapor = false;   // node 1 holds the monomers, the totals leave it out
  std::vector<double> volume;    // m3
  std::vector<double> diameter;  // m
};

// The state at one output time, with the figures derived from it.
struct OutputSample {
  double time = 0.0;         // s
  double temperature = 0.0;  // K
  double pressure = 0.0;     // atm
  std::vector<double> concentration;  // #/m3, nodes 1..n at indices 0..n-1
  double monomerConcentration = 0.0;  // #/m3 (0 without a vapour)
  double saturationRatio = 0.0;       // 0 without a vapour
  double nucleationRate = 0.0;        // #/(m3 s)
  double criticalDiameter = 0.0;      // m (0 while S <= 1)
  double totalNumber = 0.0;           // particles only, #/m3
  double particleVolume = 0.0;        // m3/m3
  double totalVolume = 0.0;           // particles plus vapour, m3/m3
  double meanDiameter = 0.0;          // number mean, m (NaN without particles)
  double geometricStd = 0.0;          // sigma_g of the number distribution (NaN without)
  IntegratorCounts counts;            // cumulative at this time
};

enum class RunEnd { Complete, IntegratorFailure, Interrupted, WriteFailure };

struct RunOutcome {
  RunEnd end = RunEnd::Complete;
  double timeReached = 0.0;  // s
  std::string message;       // why a run did not complete
  IntegratorCounts counts;
};

class ResultsSink {
 public:
  virtual ~ResultsSink() = default;
  // Before the first sample. False (with message) ends the run with a write failure.
  virtual bool begin(const SimulationCase& simulationCase, const OutputGrid& grid,
                     std::string& message) = 0;
  virtual bool write(const OutputSample& sample, std::string& message) = 0;
  // Once at the end, whatever the outcome; the file must then say how the run ended.
  virtual bool finish(const RunOutcome& outcome, std::string& message) = 0;
};

struct RunControl {
  // Polled between internal steps; true ends the run as interrupted, keeping what it wrote.
  std::function<bool()> stopRequested;
  // Called between internal steps with the time reached (for a progress line).
  std::function<void(double time)> progress;
};

// Integrates the case, handing each output time to `sink`. The outcome says how it ended.
RunOutcome runSimulation(const SimulationCase& simulationCase, ResultsSink& sink,
                         const RunControl& control);

}  // namespace aerosol
