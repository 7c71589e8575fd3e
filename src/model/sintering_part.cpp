#include "model/sintering_part.h"

#include <algorithm>
#include <cmath>

#include "properties/constants.h"

namespace aerosol {

SinteringPart::SinteringPart(const StateLayout& layout, int areaId, const NodeGrid& grid,
                             int first, const SinteringLaw& law)
    : layout_(layout),
      areaId_(areaId),
      grid_(grid),
      n_(layout.nodeCount()),
      first_(first),
      law_(law),
      noiseNumber_(layout.nodeVariables().front().absoluteTolerance) {
  smallestPrimary_ = 1e-3 * std::cbrt(6.0 * grid.volume[1] / kPi);
  sphere_.assign(static_cast<std::size_t>(n_) + 1, 0.0);
  for (int k = 1; k <= n_; ++k) sphere_[static_cast<std::size_t>(k)] = sphereArea(grid.volume[k]);
}

std::vector<int> SinteringPart::reads() const {
  std::vector<int> r;
  for (int k = first_; k <= n_; ++k) {
    r.push_back(k - 1);
    r.push_back(area(k));
  }
  return r;
}

std::vector<int> SinteringPart::writes() const {
  std::vector<int> w;
  for (int k = first_; k <= n_; ++k) w.push_back(area(k));
  return w;
}

double SinteringPart::time(int k, double N, double A, double T, double& logSlope,
                           double& primary, double& byArea, double& byNumber) const {
  const double v = grid_.volume[k];
  const double sphere = std::cbrt(6.0 * v / kPi);
  const double raw = N > 0.0 && A > 0.0 ? 6.0 * v * N / A : sphere;
  // Within the sizes a primary can have: from far below the grid's first node to the sphere.
  const bool clipped = !(raw < sphere) || !(raw > smallestPrimary_);
  const double dp = std::min(std::max(raw, smallestPrimary_), sphere);
  // A node that holds next to nothing has no shape, only the noise of A / N: its primaries
  // go over to the sphere's as N falls to the absolute tolerance, w = N / (N + N_noise).
  const double w = N > 0.0 ? N / (N + noiseNumber_) : 0.0;
  primary = sphere + w * (dp - sphere);
  // w dp / A and w dp / N = dp / (N + N_noise), in an order that cannot overflow: a node
  // far below the noise may hold a subnormal area, and dp / A alone would be infinite.
  byArea = clipped ? 0.0 : -(w * dp) / A;
  byNumber = (clipped ? 0.0 : dp / (N + noiseNumber_)) +
             (N > 0.0 ? noiseNumber_ / ((N + noiseNumber_) * (N + noiseNumber_)) * (dp - sphere)
                      : 0.0);
  const double tau = law_.time(primary, T);
  // No law holds below a picosecond, a few periods of an atom's vibration: with a minimum
  // diameter the exponent turns negative below it and tau falls to 1e-100 s and less, a
  // relaxation no step can follow. There the area relaxes as instant sintering's does.
  if (!(tau > 1.0 / kInstantRate)) {
    logSlope = 0.0;
    return 1.0 / kInstantRate;
  }
  logSlope = law_.logSlope(primary, T);
  return tau;
}

void SinteringPart::addRates(const ModelPoint& point, const double* y, double* ydot) {
  if (law_.form == SinteringForm::Instant) {
    for (int k = first_; k <= n_; ++k) {
      const double a = sphere_[static_cast<std::size_t>(k)];
      ydot[area(k)] = a * ydot[k - 1] - kInstantRate * (y[area(k)] - a * y[k - 1]);
    }
    return;
  }
  const double T = point.gas.temperature;
  for (int k = first_; k <= n_; ++k) {
    const double N = y[k - 1];
    const double A = y[area(k)];
    double slope = 0.0, primary = 0.0, byArea = 0.0, byNumber = 0.0;
    const double tau = time(k, N, A, T, slope, primary, byArea, byNumber);
    ydot[area(k)] -= (A - N * sphere_[static_cast<std::size_t>(k)]) / tau;
  }
}

void SinteringPart::addJacobian(const ModelPoint& point, const double* y,
                                JacobianColumns columns) {
  if (law_.form == SinteringForm::Instant) {
    // The area rows are the number rows times a_sph: the other parts' blocks in them give way.
    const int size = layout_.size();
    for (int k = first_; k <= n_; ++k) {
      const double a = sphere_[static_cast<std::size_t>(k)];
      for (int m = 0; m < size; ++m) columns[m][area(k)] = a * columns[m][k - 1];
      columns[area(k)][area(k)] -= kInstantRate;
      columns[k - 1][area(k)] += kInstantRate * a;
    }
    return;
  }
  const double T = point.gas.temperature;
  for (int k = first_; k <= n_; ++k) {
    const double N = y[k - 1];
    const double A = y[area(k)];
    const double a = sphere_[static_cast<std::size_t>(k)];
    double slope = 0.0, primary = 0.0, byArea = 0.0, byNumber = 0.0;
    const double tau = time(k, N, A, T, slope, primary, byArea, byNumber);
    const double excess = (A - N * a) / tau;
    // tau follows the primaries' d_p(N, A): d(-excess)/dy = -excess' + excess dln(tau)/dd_p d_p'.
    columns[area(k)][area(k)] += -1.0 / tau + excess * slope * byArea;
    columns[k - 1][area(k)] += a / tau + excess * slope * byNumber;
  }
}

std::vector<ResultVariable> SinteringPart::results() const {
  if (!law_.relaxes()) return {};
  return {{"sintering_time", "s",
           "characteristic sintering time of the node's primaries at the gas temperature", true}};
}

void SinteringPart::describe(const ModelPoint& point, const double* y, double* values) {
  if (!law_.relaxes()) return;
  for (int k = 1; k <= n_; ++k) {
    double slope = 0.0, primary = 0.0, byArea = 0.0, byNumber = 0.0;
    values[k - 1] = k < first_ ? 0.0
                               : time(k, y[k - 1], y[area(k)], point.gas.temperature, slope,
                                      primary, byArea, byNumber);
  }
}

}  // namespace aerosol
