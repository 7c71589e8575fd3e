#pragma once
// The checks of a case that involve several of its parts, on the record itself, so that every
// reader (a case file, a legacy folder, a Python dict) refuses the same cases with the same
// words. A reader reports a problem at the line of its key where it has one.

#include <optional>
#include <string>

#include "case/case.h"

namespace aerosol {

struct CaseProblem {
  std::string key;       // dotted case key, e.g. "end.temperature"
  std::string value;     // the value as a case file would show it
  std::string expected;  // what would be accepted
};

// The first problem of a case whose every key has been read and checked on its own: an end
// that the history never reaches (or that lies beyond it), a vapour pressure, saturation
// ratio, surface tension or gas viscosity that is not a finite positive number at the run's
// temperatures. None when the case can run.
std::optional<CaseProblem> checkCase(const SimulationCase& simulationCase);

// The end time of a case (s): its end.time, or when its history reaches end.temperature;
// +infinity when it never does (checkCase refuses such a case).
double caseEndTime(const SimulationCase& simulationCase);

// The lowest and highest temperature of the run, from t = 0 to its end.
TemperatureSpan caseTemperatureSpan(const SimulationCase& simulationCase);

}  // namespace aerosol
