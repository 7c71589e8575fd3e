#include "properties/reactor.h"

#include <algorithm>

namespace aerosol {

double RateHistory::at(double t) const {
  if (table.empty()) return constant;
  if (t <= table.front().time) return table.front().rate;
  if (t >= table.back().time) return table.back().rate;
  const auto next = std::upper_bound(
      table.begin(), table.end(), t,
      [](double time, const RatePoint& point) { return time < point.time; });
  const RatePoint& b = *next;
  const RatePoint& a = *(next - 1);
  const double w = (t - a.time) / (b.time - a.time);
  return a.rate + w * (b.rate - a.rate);
}

bool RateHistory::isZero() const {
  if (table.empty()) return constant == 0.0;
  return std::all_of(table.begin(), table.end(),
                     [](const RatePoint& p) { return p.rate == 0.0; });
}

}  // namespace aerosol
