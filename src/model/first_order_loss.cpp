#include "model/first_order_loss.h"

#include <utility>

namespace aerosol {

FirstOrderLoss::FirstOrderLoss(std::vector<LossTarget> targets, int lostNumber, int lostVolume)
    : targets_(std::move(targets)), lostNumber_(lostNumber), lostVolume_(lostVolume) {}

std::vector<int> FirstOrderLoss::entries() const {
  std::vector<int> out;
  for (const LossTarget& t : targets_) out.push_back(t.entry);
  return out;
}

std::vector<int> FirstOrderLoss::written() const {
  std::vector<int> out = entries();
  out.push_back(lostNumber_);
  out.push_back(lostVolume_);
  return out;
}

void FirstOrderLoss::addRates(const double* rate, const double* y, double* ydot) const {
  double number = 0.0;
  double volume = 0.0;
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    const LossTarget& t = targets_[i];
    const double lost = rate[i] * y[t.entry];
    ydot[t.entry] -= lost;
    if (t.particle) number += lost;
    volume += lost * t.volume;
  }
  ydot[lostNumber_] += number;
  ydot[lostVolume_] += volume;
}

void FirstOrderLoss::addJacobian(const double* rate, JacobianColumns columns) const {
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    const LossTarget& t = targets_[i];
    double* column = columns[t.entry];
    column[t.entry] -= rate[i];
    if (t.particle) column[lostNumber_] += rate[i];
    column[lostVolume_] += rate[i] * t.volume;
  }
}

}  // namespace aerosol
