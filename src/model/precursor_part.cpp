#include "model/precursor_part.h"

namespace aerosol {

PrecursorPart::PrecursorPart(const PrecursorProperties& properties, int precursor, int product,
                             int area, double productArea)
    : properties_(properties),
      precursor_(precursor),
      product_(product),
      area_(area),
      productArea_(productArea) {}

void PrecursorPart::addRates(const ModelPoint& point, const double* y, double* ydot) {
  const double reacting = properties_.rateConstant(point.gas.temperature) * y[precursor_];
  ydot[precursor_] -= reacting;
  ydot[product_] += reacting;
  if (area_ >= 0) ydot[area_] += reacting * productArea_;
}

void PrecursorPart::addJacobian(const ModelPoint& point, const double*, JacobianColumns columns) {
  const double k = properties_.rateConstant(point.gas.temperature);
  columns[precursor_][precursor_] -= k;
  columns[precursor_][product_] += k;
  if (area_ >= 0) columns[precursor_][area_] += k * productArea_;
}

}  // namespace aerosol
