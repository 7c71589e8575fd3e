#pragma once
// The condensing material: the properties that nucleation, growth and the collision kernels
// read. Figures that users type in other units (dyne/cm, atm) keep those units here and are
// converted where they are used, as every printed table has always had them.

#include <string>

#include "properties/constants.h"

namespace aerosol {

struct MaterialProperties {
  std::string name;              // library name, or "" when every property is given
  double molarMass = 0.0;        // kg/mol
  double density = 0.0;          // kg/m3
  double surfaceTensionA = 0.0;  // dyne/cm, sigma = A - B T
  double surfaceTensionB = 0.0;  // dyne/(cm K)
  double vaporPressureC = 0.0;   // none, Ps = exp(C - D/T) * factor
  double vaporPressureD = 0.0;   // K
  // atm multiplying exp(C - D/T): a fixed factor (1 for a fit in atm), or, with
  // factorIsGasPressure, the gas pressure P (the input files' law Ps = exp(C - D/T) P).
  double vaporPressureFactor = 1.0;
  bool factorIsGasPressure = false;

  // The factor of the vapour-pressure law (atm) at gas pressure P (atm).
  double vaporPressureFactorAt(double gasPressure) const {
    return factorIsGasPressure ? gasPressure : vaporPressureFactor;
  }
};

// Volume of one molecule of the condensed phase, M / (rho NA), m3: node 1 of a grid that
// starts at the vapour monomer.
inline double monomerVolume(double molarMass, double density) {
  return molarMass / (density * kAvogadro);
}

}  // namespace aerosol
