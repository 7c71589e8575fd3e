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

double computeCollisionKernel(double T, const CollisionModel& model, const NodeGrid& grid, int n,
                              CollisionKernel& kernel) {
  double smallest = 1e-9;
  const auto fill = [&](auto pair) {
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) {
        const double value = pair(i, j);
        kernel.at(i, j) = value;
        if (value < smallest) smallest = value;
      }
    }
  };
  const std::vector<double>& v = grid.volume;
  switch (model.form) {
    case KernelForm::FreeMolecular:
      fill([&](int i, int j) { return freeMolecularKernel(T, model.density, v[i], v[j]); });
      break;
    case KernelForm::Fuchs: {
      const CarrierGas gas = carrierGas(T, model.gas);
      fill([&](int i, int j) {
        const FuchsParticle a = fuchsParticle(T, gas, grid.diameter[i], grid.mass[i]);
        const FuchsParticle b = fuchsParticle(T, gas, grid.diameter[j], grid.mass[j]);
        return fuchsPair(a, grid.diameter[i], b, grid.diameter[j]);
      });
      break;
    }
    case KernelForm::Constant:
      fill([&](int, int) { return model.constantKernel; });
      break;
    case KernelForm::Additive:
      fill([&](int i, int j) { return model.additiveKernel * (v[i] + v[j]); });
      break;
  }
  return smallest;
}

void computeMonomerKernelRow(double T, const CollisionModel& model, const NodeGrid& grid, int n,
                             CollisionKernel& kernel) {
  const std::vector<double>& v = grid.volume;
  for (int j = 1; j <= n; ++j) {
    switch (model.form) {
      case KernelForm::Constant:
        kernel.at(1, j) = model.constantKernel;
        break;
      case KernelForm::Additive:
        kernel.at(1, j) = model.additiveKernel * (v[1] + v[j]);
        break;
      default:
        kernel.at(1, j) = freeMolecularKernel(T, model.density, v[1], v[j]);
        break;
    }
  }
}

}  // namespace aerosol
