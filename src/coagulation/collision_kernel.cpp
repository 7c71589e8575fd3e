#include "coagulation/collision_kernel.h"

#include <cmath>

#include "properties/constants.h"

namespace aerosol {

CollisionKernel makeCollisionKernel(int capacity) {
  CollisionKernel kernel;
  kernel.capacity = capacity;
  const auto c = static_cast<std::size_t>(capacity);
  kernel.beta.assign(c * c, 0.0);
  return kernel;
}

double freeMolecularKernel(double T, double rho, double vi, double vj) {
  // sqrt(6kT/rho) (3/4pi)^(1/6) sqrt(1/vi + 1/vj) (vi^(1/3) + vj^(1/3))^2, with the stored
  // decimals and the product formed left to right.
  return std::pow(T * 6.0 * kBoltzmann / rho, 0.5) * std::pow(3.0 / kFourPi, 0.1666666) *
         std::pow(1 / vi + 1 / vj, 0.5) *
         std::pow(std::pow(vi, 0.333333) + std::pow(vj, 0.333333), 2.0);
}

CarrierGas carrierGas(double T, const CarrierGasProperties& g) {
  CarrierGas gas;
  gas.viscosity = std::pow(T, 1.5) * g.sutherlandA / (g.sutherlandB + T);
  // lambda = mu / P sqrt(pi R T / (2 M)) (m); 2 M is exact, so M = 0.040 gives the
  // processes' sqrt(pi R T / 0.08) to the bit.
  gas.meanFreePath = gas.viscosity / (g.pressure * kPascalPerAtm) *
                     std::sqrt(T * kPi * kGasConstant / (2.0 * g.molarMass));
  return gas;
}

double fuchsTransition(double d, double l) {
  return (std::pow(d + l, 3.0) - std::pow(d * d + l * l, 1.5)) / (d * l * 3.0) - d;
}

FuchsParticle fuchsParticle(double T, const CarrierGas& gas, double d, double m) {
  const FuchsMobility mobility = fuchsMobility(T, gas, d, m);
  return {mobility.diffusion, mobility.speed, fuchsTransition(d, mobility.meanFreePath)};
}

double computeCollisionKernel(double T, KernelForm form, double density,
                              const CarrierGasProperties& gasProperties, const NodeGrid& grid,
                              int n, CollisionKernel& kernel) {
  double smallest = 1e-9;
  if (form == KernelForm::FreeMolecular) {
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) {
        const double value =
            freeMolecularKernel(T, density, grid.volume[i], grid.volume[j]);
        kernel.at(i, j) = value;
        if (value < smallest) smallest = value;
      }
    }
  } else {
    const CarrierGas gas = carrierGas(T, gasProperties);
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) {
        const FuchsParticle a = fuchsParticle(T, gas, grid.diameter[i], grid.mass[i]);
        const FuchsParticle b = fuchsParticle(T, gas, grid.diameter[j], grid.mass[j]);
        const double value = fuchsPair(a, grid.diameter[i], b, grid.diameter[j]);
        kernel.at(i, j) = value;
        if (value < smallest) smallest = value;
      }
    }
  }
  return smallest;
}

void computeMonomerKernelRow(double T, double density, const NodeGrid& grid, int n,
                             CollisionKernel& kernel) {
  for (int j = 1; j <= n; ++j)
    kernel.at(1, j) = freeMolecularKernel(T, density, grid.volume[1], grid.volume[j]);
}

}  // namespace aerosol
