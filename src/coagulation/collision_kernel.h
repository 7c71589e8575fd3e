#pragma once
// Collision frequency function beta(i, j), m3/s, between particles of nodes i and j: the
// free-molecular form, or Fuchs' interpolation that spans the free-molecular and the
// transition regimes.

#include <cmath>
#include <cstddef>
#include <vector>

#include "coagulation/node_grid.h"
#include "properties/carrier_gas.h"
#include "properties/constants.h"

namespace aerosol {

struct CollisionKernel {
  int capacity = 0;
  std::vector<double> beta;

  double at(int i, int j) const { return beta[index(i, j)]; }
  double& at(int i, int j) { return beta[index(i, j)]; }
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(capacity) +
           static_cast<std::size_t>(j);
  }
};

CollisionKernel makeCollisionKernel(int capacity);

// What the collision frequency function reads besides the grid and the temperature.
struct CollisionModel {
  KernelForm form = KernelForm::FreeMolecular;
  double density = 0.0;          // kg/m3, of the particles (free-molecular masses)
  CarrierGasProperties gas{};    // Fuchs
  double constantKernel = 0.0;   // m3/s, K of the constant test kernel
  double additiveKernel = 0.0;   // 1/s, b of the additive test kernel b (v_i + v_j)
};

// Fills beta[i][j] for i, j = 1..n at temperature T (K) in the model's form; Fuchs' form also
// reads the node masses. Returns smallestKernel: the smaller of 1e-9 and the smallest entry.
double computeCollisionKernel(double temperature, const CollisionModel& model,
                              const NodeGrid& grid, int nodeCount, CollisionKernel& kernel);

// Fills row 1 only, beta[1][j] for j = 1..n: by the free-molecular form for either physical
// kernel (the monomers' collisions that growth alone reads), by the test kernel for those.
void computeMonomerKernelRow(double temperature, const CollisionModel& model, const NodeGrid& grid,
                             int nodeCount, CollisionKernel& kernel);

// The single-pair formulas, as the table uses them.
double freeMolecularKernel(double temperature, double density, double volumeI, double volumeJ);

// Carrier gas of the Fuchs form: Sutherland viscosity mu (Pa s) and mean free path (m),
// lambda = mu / P sqrt(pi R T / (2 M)) with the gas's molar mass M.
struct CarrierGas {
  double viscosity;
  double meanFreePath;
};
CarrierGas carrierGas(double temperature, const CarrierGasProperties& gas);

// Per-particle quantities of the Fuchs form at one temperature.
struct FuchsParticle {
  double diffusion;   // D, m2/s
  double speed;       // mean thermal speed c, m/s
  double transition;  // g, m
};
FuchsParticle fuchsParticle(double temperature, const CarrierGas& gas, double diameter,
                            double mass);
// Its parts: diffusion coefficient, thermal speed and particle mean free path l (m), which
// need no power function; and the transition parameter g from the diameter and l.
struct FuchsMobility {
  double diffusion;
  double speed;
  double meanFreePath;
};
inline FuchsMobility fuchsMobility(double T, const CarrierGas& gas, double d, double m) {
  FuchsMobility p;
  const double kn = gas.meanFreePath * 2.0 / d;  // Knudsen number
  p.diffusion = (T * kBoltzmann) / (gas.viscosity * 3.0 * d * kPi) *
                (18.0 * (kn * kn * kn) + (6.0 * (kn * kn) + (4.0 * kn + 5.0))) /
                ((kPi + 8.0) * (kn * kn) + (5.0 - kn));
  p.speed = std::sqrt(T * kEightBoltzmann / (m * kPi));
  p.meanFreePath = p.diffusion * 8.0 / (p.speed * kPi);
  return p;
}
double fuchsTransition(double diameter, double particleMeanFreePath);
// Fuchs' interpolation for one pair of particles from their diameters d (m), diffusion
// coefficients D (m2/s) and the squares of their thermal speeds c and transition parameters g.
// Symmetric in the two particles to the bit.
inline double fuchsPairFromSquares(double da, double Da, double caSquared, double gaSquared,
                                   double db, double Db, double cbSquared, double gbSquared) {
  const double dSum = da + db;
  const double dCoef = Da + Db;
  return dCoef * dSum * kTwoPi /
         (dSum / (dSum + 2.0 * std::sqrt(gaSquared + gbSquared)) +
          8.0 * dCoef / (dSum * std::sqrt(caSquared + cbSquared)));
}
inline double fuchsPairKernel(double da, double Da, double ca, double ga, double db, double Db,
                              double cb, double gb) {
  return fuchsPairFromSquares(da, Da, ca * ca, ga * ga, db, Db, cb * cb, gb * gb);
}
inline double fuchsPair(const FuchsParticle& a, double da, const FuchsParticle& b, double db) {
  return fuchsPairKernel(da, a.diffusion, a.speed, a.transition, db, b.diffusion, b.speed,
                         b.transition);
}

}  // namespace aerosol
