#pragma once
// The carrier gas and the form of the collision kernel that it enters.

#include "properties/constants.h"

namespace aerosol {

struct CarrierGasProperties {
  double pressure = 1.0;     // atm (at t = 0 when a history gives pressures)
  double sutherlandA = 0.0;  // Pa s K^-0.5, viscosity mu = A T^1.5 / (B + T)
  double sutherlandB = 0.0;  // K
  // kg/mol, in the gas mean free path mu / P sqrt(pi R T / (2 M)); the processes' argon.
  double molarMass = kDefaultGasMolarMass;
};

// Collision frequency function between particles: the free-molecular (kinetic) form, or
// Fuchs' interpolation from the free-molecular to the continuum regime, which needs the gas;
// or one of the two test kernels whose coagulation equation has closed-form solutions (for
// measuring a grid's accuracy): constant, beta = K, and additive, beta = b (v_i + v_j).
enum class KernelForm { FreeMolecular, Fuchs, Constant, Additive };

}  // namespace aerosol
