#pragma once
// One simulate run: the ODE model of a case integrated by CVODE, with the state handed to a
// results sink at every output time. The sink writes files (NetCDF, CSV) or fills arrays
// (the Python module); the run knows nothing of formats.

#include <functional>
#include <vector>

#include "case/case.h"
#include "output/results.h"

namespace aerosol {

// The linear solver of the Newton iterations: LAPACK's blocked LU where the program was built
// with it, or SUNDIALS' own dense LU (the reference it is checked against).
enum class LinearSolver { Lapack, SundialsDense };

struct RunControl {
  // Polled between internal steps; true ends the run as interrupted, keeping what it wrote,
  // with the state reached handed to the sink as the last time.
  std::function<bool()> stopRequested;
  // Called between internal steps with the time reached (for a progress line).
  std::function<void(double time)> progress;
  LinearSolver linearSolver = LinearSolver::Lapack;
};

// Integrates the case, handing each output time to `sink`. The outcome says how it ended.
RunOutcome runSimulation(const SimulationCase& simulationCase, ResultsSink& sink,
                         const RunControl& control);

// The output times: count of them from 0 to endTime, both included. Linear, or
// logarithmic from endTime * kFirstLogarithmicTime.
inline constexpr double kFirstLogarithmicTime = 1e-6;
std::vector<double> outputTimes(const OutputSpec& output, double endTime);

}  // namespace aerosol
