#include "model/precursor_part.h"

namespace aerosol {

PrecursorPart::PrecursorPart(const PrecursorProperties& properties, int precursor, int product)
    : properties_(properties), precursor_(precursor), product_(product) {}

void PrecursorPart::addRates(const ModelPoint& point, const double* y, double* ydot) {
  const double reacting = properties_.rateConstant(point.gas.temperature) * y[precursor_];
  ydot[precursor_] -= reacting;
  ydot[product_] += reacting;
}

void PrecursorPart::addJacobian(const ModelPoint& point, const double*, JacobianColumns columns) {
  const double k = properties_.rateConstant(point.gas.temperature);
  columns[precursor_][precursor_] -= k;
  columns[precursor_][product_] += k;
}

}  // namespace aerosol
