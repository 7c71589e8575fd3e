#include "coagulation/wall_loss.h"

#include <cmath>

#include "properties/constants.h"
#include "properties/transport_constants.h"

namespace aerosol {

double slipCorrection(double kn) { return 1.0 + kn * (kSlipA + kSlipB * std::exp(-kSlipC / kn)); }

double brownianDiffusion(double T, const CarrierGas& gas, double d) {
  const double kn = 2.0 * gas.meanFreePath / d;
  return kBoltzmann * T * slipCorrection(kn) / (3.0 * kPi * gas.viscosity * d);
}

double laminarTubeLossRate(double diffusion, double tubeDiameter) {
  return kLaminarTubeSherwood * 4.0 * diffusion / (tubeDiameter * tubeDiameter);
}

}  // namespace aerosol
