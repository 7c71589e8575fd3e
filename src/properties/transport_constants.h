#pragma once
// Constants of particle transport to walls: Brownian diffusion with Cunningham's slip
// correction, and mass transfer to the wall of a tube.

namespace aerosol {

// Cunningham slip correction Cc = 1 + Kn (A + B exp(-C / Kn)), Kn = 2 lambda / d.
inline constexpr double kSlipA = 1.257;
inline constexpr double kSlipB = 0.4;
inline constexpr double kSlipC = 1.1;
// Sherwood number k d_t / D of fully developed laminar flow in a tube at a constant wall
// concentration (the wall takes every particle that reaches it).
inline constexpr double kLaminarTubeSherwood = 3.66;

}  // namespace aerosol
