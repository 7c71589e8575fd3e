#pragma once
// Brownian diffusion of a particle through the carrier gas and its loss to the wall of a tube
// in fully developed laminar flow.

#include "coagulation/collision_kernel.h"

namespace aerosol {

// Cunningham's slip correction at Knudsen number Kn = 2 lambda / d.
double slipCorrection(double knudsen);
// Stokes-Einstein diffusion coefficient (m2/s) of a sphere of diameter d (m) at temperature T
// (K) in the gas: k T Cc / (3 pi mu d).
double brownianDiffusion(double temperature, const CarrierGas& gas, double diameter);
// First-order loss rate (1/s) to the wall of a tube of diameter d_t (m): Sh 4 D / d_t^2, the
// wall flux Sh D / d_t per unit of concentration over the wall area per volume 4 / d_t.
double laminarTubeLossRate(double diffusion, double tubeDiameter);

}  // namespace aerosol
