#include "model/dilution_part.h"

#include <algorithm>
#include <utility>

namespace aerosol {

DilutionPart::DilutionPart(const RateHistory& rate, std::vector<LossTarget> targets,
                           int lostNumber, int lostVolume)
    : rate_(rate), loss_(std::move(targets), lostNumber, lostVolume) {
  rates_.assign(loss_.targets().size(), 0.0);
}

const double* DilutionPart::ratesAt(double time) {
  std::fill(rates_.begin(), rates_.end(), rate_.at(time));
  return rates_.data();
}

void DilutionPart::addRates(const ModelPoint& point, const double* y, double* ydot) {
  loss_.addRates(ratesAt(point.time), y, ydot);
}

void DilutionPart::addJacobian(const ModelPoint& point, const double*, JacobianColumns columns) {
  loss_.addJacobian(ratesAt(point.time), columns);
}

}  // namespace aerosol
