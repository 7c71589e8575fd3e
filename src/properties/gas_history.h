#pragma once
// The gas temperature (and, where a table gives it, the pressure) as a function of time:
// constant, a constant cooling rate, or a table interpolated linearly. One type answers every
// question a run asks of it: the state at t, when it reaches a temperature, and the range of
// temperatures it passes through (for the materials' fit ranges and the case checks).

#include <vector>

namespace aerosol {

// Temperature and pressure at one time.
struct GasState {
  double temperature = 0.0;  // K
  double pressure = 0.0;     // atm
};

enum class TemperatureLaw { Constant, CoolingRate, Table };

struct TemperaturePoint {
  double time = 0.0;         // s
  double temperature = 0.0;  // K
  double pressure = 0.0;     // atm; 0 when the table gives none
};

struct TemperatureSpan {
  double low = 0.0;   // K
  double high = 0.0;  // K
};

struct TemperatureHistory {
  TemperatureLaw law = TemperatureLaw::Constant;
  double start = 0.0;        // K, at t = 0 (Constant, CoolingRate; a table's first row)
  double coolingRate = 0.0;  // K/s (CoolingRate): T(t) = start - coolingRate t
  std::vector<TemperaturePoint> table;  // Table: increasing in time, held after its last row

  // Whether the table gives pressures (then they replace the gas pressure).
  bool givesPressure() const {
    return law == TemperatureLaw::Table && !table.empty() && table.front().pressure > 0.0;
  }
  // T and P at time t; P is `gasPressure` (atm) unless the table gives pressures.
  GasState at(double time, double gasPressure) const;
  // The first time (s) the history reaches `temperature`: 0 when it starts there, +infinity
  // when it never does.
  double timeToReach(double temperature) const;
  // The lowest and highest temperature from t = 0 to endTime.
  TemperatureSpan spanUntil(double endTime) const;
};

}  // namespace aerosol
