#pragma once
// The physics the tests hold the program against, written from kinetic theory and the Kelvin
// equation with exact SI constants (not the program's formulas or its stored decimals).

#include <cmath>

namespace aerosol::closed {

inline constexpr double kBoltzmann = 1.380649e-23;  // J/K
inline constexpr double kAvogadro = 6.02214076e23;  // 1/mol

inline double sphereDiameter(double volume) { return std::cbrt(6.0 * volume / M_PI); }

// Hard spheres of density rho: cross-section times mean relative speed, m3/s.
inline double freeMolecularKernel(double T, double rho, double vi, double vj) {
  const double d = sphereDiameter(vi) + sphereDiameter(vj);
  return M_PI / 4.0 * d * d *
         std::sqrt(8.0 * kBoltzmann * T / M_PI * (1.0 / (rho * vi) + 1.0 / (rho * vj)));
}

// Brownian coagulation of equal spheres in the continuum regime, 8kT / (3 mu), m3/s.
inline double continuumEqualKernel(double T, double viscosity) {
  return 8.0 * kBoltzmann * T / (3.0 * viscosity);
}

// Saturation concentration over a droplet of diameter d (Kelvin): ns exp(4 sigma v_m / (k T
// d)), v_m = M / (rho N_A) the molecular volume of the condensed phase.
inline double kelvinConcentration(double ns, double sigma, double molarMass, double density,
                                  double T, double d) {
  const double vm = molarMass / (density * kAvogadro);
  return ns * std::exp(4.0 * sigma * vm / (kBoltzmann * T * d));
}

}  // namespace aerosol::closed
