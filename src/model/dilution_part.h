#pragma once
// Dilution: the gas mixes at the rate k(t) (1/s) with gas that carries no particles, vapour
// or precursor, so every concentration falls at k N (first order); what leaves is kept in the
// tally of numbers and volumes lost to dilution.

#include <vector>

#include "model/first_order_loss.h"
#include "model/mechanism.h"
#include "properties/reactor.h"

namespace aerosol {

class DilutionPart final : public MechanismPart {
 public:
  DilutionPart(const RateHistory& rate, std::vector<LossTarget> targets, int lostNumber,
               int lostVolume);

  const char* name() const override { return "dilution"; }
  std::vector<int> reads() const override { return loss_.entries(); }
  std::vector<int> writes() const override { return loss_.written(); }
  void addRates(const ModelPoint& point, const double* y, double* ydot) override;
  void addJacobian(const ModelPoint& point, const double* y, JacobianColumns columns) override;

 private:
  const double* ratesAt(double time);

  RateHistory rate_;
  FirstOrderLoss loss_;
  std::vector<double> rates_;
};

}  // namespace aerosol
