#include "properties/gas_history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace aerosol {

GasState TemperatureHistory::at(double t, double gasPressure) const {
  GasState g;
  g.pressure = gasPressure;
  switch (law) {
    case TemperatureLaw::Constant:
      g.temperature = start;
      break;
    case TemperatureLaw::CoolingRate:
      // The processes cool as T - dt rate per step; over the whole run that is T0 - rate t.
      g.temperature = start - coolingRate * t;
      break;
    case TemperatureLaw::Table: {
      const std::vector<TemperaturePoint>& p = table;
      if (p.empty()) {
        g.temperature = start;
        break;
      }
      const bool pressures = givesPressure();
      if (t <= p.front().time) {
        g.temperature = p.front().temperature;
        if (pressures) g.pressure = p.front().pressure;
        break;
      }
      if (t >= p.back().time) {
        g.temperature = p.back().temperature;
        if (pressures) g.pressure = p.back().pressure;
        break;
      }
      // The segment [t_i, t_{i+1}) holding t.
      const auto next = std::upper_bound(
          p.begin(), p.end(), t,
          [](double time, const TemperaturePoint& point) { return time < point.time; });
      const TemperaturePoint& b = *next;
      const TemperaturePoint& a = *(next - 1);
      const double w = (t - a.time) / (b.time - a.time);
      g.temperature = a.temperature + w * (b.temperature - a.temperature);
      if (pressures) g.pressure = a.pressure + w * (b.pressure - a.pressure);
      break;
    }
  }
  return g;
}

double TemperatureHistory::timeToReach(double Te) const {
  const double never = std::numeric_limits<double>::infinity();
  switch (law) {
    case TemperatureLaw::Constant:
      return start == Te ? 0.0 : never;
    case TemperatureLaw::CoolingRate: {
      const double t = (start - Te) / coolingRate;
      return t >= 0.0 ? t : never;
    }
    case TemperatureLaw::Table:
      for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].temperature == Te) return table[i].time;
        if (i + 1 < table.size()) {
          const double a = table[i].temperature - Te;
          const double b = table[i + 1].temperature - Te;
          if ((a > 0.0 && b < 0.0) || (a < 0.0 && b > 0.0))
            return table[i].time + (table[i + 1].time - table[i].time) * (a / (a - b));
        }
      }
      return never;
  }
  return never;
}

TemperatureSpan TemperatureHistory::spanUntil(double endTime) const {
  const double first = at(0.0, 0.0).temperature;
  const double last = at(endTime, 0.0).temperature;
  TemperatureSpan span{std::fmin(first, last), std::fmax(first, last)};
  if (law == TemperatureLaw::Table)
    for (const TemperaturePoint& p : table) {
      if (!(p.time < endTime)) break;
      span.low = std::fmin(span.low, p.temperature);
      span.high = std::fmax(span.high, p.temperature);
    }
  return span;
}

}  // namespace aerosol
