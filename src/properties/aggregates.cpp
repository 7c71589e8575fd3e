#include "properties/aggregates.h"

#include <algorithm>
#include <cmath>

#include "properties/constants.h"

namespace aerosol {

double SinteringLaw::time(double d, double T) const {
  const double arrhenius = std::exp(activationTemperature * (1.0 - minDiameter / d) / T);
  double tau = 0.0;
  switch (form) {
    case SinteringForm::GrainBoundary:
      tau = prefactor * (d * d * d * d) * T * arrhenius;
      break;
    case SinteringForm::ViscousFlow:
      tau = prefactor * d * arrhenius;
      break;
    case SinteringForm::SolidState:
      tau = prefactor * (d * d * d) * T * arrhenius;
      if (surfaceEnergyA != 0.0 || surfaceEnergyB != 0.0)
        tau = tau / (surfaceEnergyA - surfaceEnergyB * T);
      break;
    case SinteringForm::Instant:
    case SinteringForm::None:
      break;
  }
  return tau;
}

double SinteringLaw::logSlope(double d, double T) const {
  const double power = form == SinteringForm::GrainBoundary ? 4.0
                       : form == SinteringForm::SolidState  ? 3.0
                                                            : 1.0;
  return power / d + activationTemperature * minDiameter / (T * d * d);
}

double sphereArea(double v) { return std::cbrt(kPi) * std::pow(6.0 * v, 2.0 / 3.0); }

AggregateShape aggregateShape(double v, double a, const AggregateProperties& p,
                              double smallestPrimary) {
  const double volumeDiameter = std::cbrt(6.0 * v / kPi);
  AggregateShape shape{volumeDiameter, 1.0, volumeDiameter, true};
  if (!(a > sphereArea(v))) return shape;
  const double primary = 6.0 * v / a;
  shape.limited = !(primary > smallestPrimary);
  shape.primaryDiameter = std::min(std::max(primary, smallestPrimary), volumeDiameter);
  const double ratio = volumeDiameter / shape.primaryDiameter;
  shape.primaries = ratio * ratio * ratio;
  const double collision =
      shape.primaryDiameter * std::pow(shape.primaries / p.prefactor, 1.0 / p.fractalDimension);
  shape.collisionDiameter = std::max(collision, volumeDiameter);
  return shape;
}

}  // namespace aerosol
