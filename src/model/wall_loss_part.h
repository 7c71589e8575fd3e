#pragma once
// Losses to the walls: with a tube, Brownian diffusion to its wall in fully developed laminar
// flow, k_k = Sh 4 D_k / d_t^2 for each node (the vapour monomer too) with D_k from the gas
// state; and a size-independent first-order rate (chamber walls, sampling). What the walls
// take is kept in the tally of numbers and volumes lost to the walls. The precursor, a gas
// that reacts rather than deposits, is not lost to the walls.

#include <vector>

#include "model/first_order_loss.h"
#include "model/mechanism.h"
#include "properties/carrier_gas.h"
#include "properties/reactor.h"

namespace aerosol {

class WallLossPart final : public MechanismPart {
 public:
  // `gas`: the Sutherland constants (its pressure is the point's).
  WallLossPart(const ReactorConditions& reactor, const CarrierGasProperties& gas,
               std::vector<LossTarget> targets, int lostNumber, int lostVolume);

  const char* name() const override { return "walls"; }
  std::vector<int> reads() const override { return loss_.entries(); }
  std::vector<int> writes() const override { return loss_.written(); }
  void addRates(const ModelPoint& point, const double* y, double* ydot) override;
  void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) override;

  // Each target's loss rate (1/s) at the gas state, kept while the state is the same.
  const std::vector<double>& ratesAt(const GasState& gas);

 private:
  double tubeDiameter_;
  double wallLossRate_;
  CarrierGasProperties gas_;
  FirstOrderLoss loss_;
  std::vector<double> rates_;
  bool filled_ = false;
  double temperature_ = 0.0;  // K, of the rates kept
  double pressure_ = 0.0;     // atm
};

}  // namespace aerosol
