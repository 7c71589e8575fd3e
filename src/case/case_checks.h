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

// The physical range of a kind of figure. Outside it a figure is a mistake (a unit, a sign,
// an exponent) or one whose products in the rates would not stay finite; it is refused
// before the run.
struct PhysicalRange {
  double low;
  double high;
  const char* expected;     // the refusal's "expected ..."
  bool lowIncluded = true;  // false: above `low`
  bool contains(double v) const { return (lowIncluded ? v >= low : v > low) && v <= high; }
};

inline constexpr PhysicalRange kTemperatureRange{1.0, 1e5, "a temperature from 1 to 1e5 K"};
inline constexpr PhysicalRange kPressureRange{1e-6, 1e3, "a pressure from 1e-6 to 1000 atm"};
inline constexpr PhysicalRange kDiameterRange{0.1, 1e6,
                                              "a diameter from 0.1 nm to 1 mm (1e6 nm)"};
inline constexpr PhysicalRange kGeometricStdRange{
    1.0, 10.0, "a geometric standard deviation above 1 and at most 10", false};
// Air at 1 atm and 273 K holds 2.7e25 molecules per m3; 1e30 keeps every product of two
// concentrations, a kernel and a volume far from overflow.
inline constexpr PhysicalRange kConcentrationRange{
    0.0, 1e30, "a number concentration from 0 to 1e30 #/m3"};
inline constexpr PhysicalRange kEndTimeRange{1e-12, 1e9, "an end time from 1e-12 to 1e9 s"};
inline constexpr PhysicalRange kDensityRange{1.0, 1e5, "a density from 1 to 1e5 kg/m3"};
inline constexpr PhysicalRange kMolarMassRange{1e-3, 10.0,
                                               "a molar mass from 0.001 to 10 kg/mol"};
// Gases from hydrogen near its boiling point to hot vapours: 1e-6 to 1e-4 Pa s.
inline constexpr PhysicalRange kViscosityRange{1e-7, 1e-2, "a viscosity from 1e-7 to 0.01 Pa s"};
// The largest monomer surface energy pi d1^2 sigma / kT a case may reach (exp of it is 1e100).
inline constexpr double kMostSurfaceEnergy = 230.0;
inline constexpr PhysicalRange kGasMolarMassRange{
    1e-3, 1.0, "a molar mass from 0.001 to 1 kg/mol (air 0.02897, argon 0.040)"};

// The grid of a read case: node 1 (without a vapour) 0.1 nm to 1 mm across, every node volume
// finite and above 0, node n at most 1 mm across. Keys: grid.first_volume, grid.spacing or
// material.molar_mass (with a vapour node 1 is the monomer).
std::optional<CaseProblem> checkGrid(const SimulationCase& simulationCase);

// The first problem of a case whose every key has been read and checked on its own: a figure
// outside its physical range, a grid beyond its limits, an end that the history never
// reaches (or lies beyond it, or outside 1e-12..1e9 s), a history that leaves 1..1e5 K, no
// particles while nothing forms them, a vapour pressure, saturation ratio, surface tension
// or gas viscosity that is not a finite positive number at the run's temperatures, or a
// vapour beyond the concentration range. None when the case can run.
std::optional<CaseProblem> checkCase(const SimulationCase& simulationCase);

// The end time of a case (s): its end.time, or when its history reaches end.temperature;
// +infinity when it never does (checkCase refuses such a case).
double caseEndTime(const SimulationCase& simulationCase);

// The lowest and highest temperature of the run, from t = 0 to its end.
TemperatureSpan caseTemperatureSpan(const SimulationCase& simulationCase);

}  // namespace aerosol
