#include "model/wall_loss_part.h"

#include <utility>

#include "coagulation/collision_kernel.h"
#include "coagulation/wall_loss.h"

namespace aerosol {

WallLossPart::WallLossPart(const ReactorConditions& reactor, const CarrierGasProperties& gas,
                           std::vector<LossTarget> targets, int lostNumber, int lostVolume)
    : tubeDiameter_(reactor.tubeDiameter),
      wallLossRate_(reactor.wallLossRate),
      gas_(gas),
      loss_(std::move(targets), lostNumber, lostVolume) {
  rates_.assign(loss_.targets().size(), wallLossRate_);
}

const std::vector<double>& WallLossPart::ratesAt(const GasState& state) {
  if (tubeDiameter_ > 0.0 &&
      !(filled_ && state.temperature == temperature_ && state.pressure == pressure_)) {
    CarrierGasProperties now = gas_;
    now.pressure = state.pressure;
    const CarrierGas gas = carrierGas(state.temperature, now);
    const std::vector<LossTarget>& targets = loss_.targets();
    for (std::size_t i = 0; i < targets.size(); ++i)
      rates_[i] = laminarTubeLossRate(
                      brownianDiffusion(state.temperature, gas, targets[i].diameter),
                      tubeDiameter_) +
                  wallLossRate_;
    filled_ = true;
    temperature_ = state.temperature;
    pressure_ = state.pressure;
  }
  return rates_;
}

void WallLossPart::addRates(const ModelPoint& point, const double* y, double* ydot) {
  loss_.addRates(ratesAt(point.gas).data(), y, ydot);
}

void WallLossPart::addJacobian(const ModelPoint& point, const double*, JacobianColumns columns) {
  loss_.addJacobian(ratesAt(point.gas).data(), columns);
}

}  // namespace aerosol
