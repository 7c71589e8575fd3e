#pragma once
// Particles as aggregates of primary particles: the fractal law that gives their collision
// diameter, and the sintering law by which their surface area relaxes to a sphere's.
//
// A node k carries N_k particles and their total surface area A_k: a particle has area
// a = A/N and volume v_k; its primaries have diameter d_p = 6 v / a, and there are
// n_p = a^3 / (36 pi v^2) of them; a sphere has a_sph = pi^(1/3) (6 v)^(2/3), the least area
// of its volume. The collision diameter follows n_p = k_f (d_c / d_p)^D_f.

#include <string>

namespace aerosol {

// tau_s(d_p, T), s, with d_p in m and T in K:
//   GrainBoundary  A d_p^4 T exp(T_a (1 - d_min/d_p) / T)   A in s m^-4 K^-1
//   ViscousFlow    A d_p exp(T_a (1 - d_min/d_p) / T)       A in s m^-1
//   SolidState     A d_p^3 T exp(T_a (1 - d_min/d_p) / T)   A in s m^-3 K^-1
//                  (divided by a surface energy gamma(T) = a - b T, J/m2, where the law has one)
//   Instant        the area stays that of spheres
//   None           the area never relaxes
enum class SinteringForm { GrainBoundary, ViscousFlow, SolidState, Instant, None };

struct SinteringLaw {
  SinteringForm form = SinteringForm::None;
  double prefactor = 0.0;              // A, units by form (above)
  double activationTemperature = 0.0;  // T_a, K
  double minDiameter = 0.0;            // d_min, m
  double surfaceEnergyA = 0.0;         // J/m2; 0: no surface energy in the law
  double surfaceEnergyB = 0.0;         // J/(m2 K)
  std::string source;                  // where the constants come from

  bool relaxes() const {
    return form == SinteringForm::GrainBoundary || form == SinteringForm::ViscousFlow ||
           form == SinteringForm::SolidState;
  }
  // The characteristic time tau_s (s) of primaries of diameter d (m) at T (K).
  double time(double primaryDiameter, double temperature) const;
  // d ln(tau_s) / d d, 1/m: how the time grows with the primaries.
  double logSlope(double primaryDiameter, double temperature) const;
};

struct AggregateProperties {
  double fractalDimension = 1.8;  // D_f, 1 < D_f <= 3
  double prefactor = 1.0;         // k_f
  SinteringLaw sintering;
};

// The geometry of particles of volume v (m3) and area a (m2) each, by the laws above. The
// primaries are taken no smaller than `smallestPrimary` (m; the callers' guard lies far below
// the grid's first node) and no larger than the sphere: the state may stray there (an almost
// empty node, the Newton iterations' noise), the sizes it gives may not.
struct AggregateShape {
  double primaryDiameter;    // d_p, m
  double primaries;          // n_p = (d_v / d_p)^3, at least 1
  double collisionDiameter;  // d_c, m: never below the volume-equivalent diameter
  bool limited;              // d_p was taken at one of its limits
};
double sphereArea(double volume);
AggregateShape aggregateShape(double volume, double area, const AggregateProperties& properties,
                              double smallestPrimary);

}  // namespace aerosol
