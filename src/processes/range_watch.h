#pragma once
// The input-file processes' watch over a run's concentrations, time and temperature.

#include <cfloat>
#include <cmath>

namespace aerosol {

// Watches a run for leaving the physical range, on standard error. A concentration that
// first turns negative (beyond subnormal size) gets one warning: the explicit steps clip
// nothing, so this marks where the run went astray, and it goes on. A concentration that
// turns not-a-number or infinite has broken the run down, as has a step that no longer moves
// the time or the temperature: the run says so and ends with kExitRangeError (status()).
class RangeWatch {
 public:
  // Checks nodes first..last of N at time t (s). Once a concentration has turned non-finite
  // nothing more is checked: not-a-number spreads to every node it meets and stays.
  void check(const double* concentration, int first, int last, double time) {
    if (brokenDown_) return;
    for (int k = first; k <= last; ++k) {
      // Subnormal negatives (below 2.2e-308 in size) are rounding dust in the far tail of a
      // distribution, not a run out of range.
      const double value = concentration[k];
      if (!(value >= -DBL_MIN) || value == INFINITY) {
        if (!std::isfinite(value)) {
          breakDown(k, value, time);
          return;
        }
        if (!warned_) warn(k, value, time);
      }
    }
  }

  // Process 1: the next time step, t + dt, did not come out above t (a step that is zero,
  // negative, not a number or lost in rounding); the run stops at t.
  void timeStuck(double time, double step);
  // Processes 2 to 4: a pass of `step` s left the temperature T (K) where it was. The steps
  // only shrink as a run goes on, so no later pass would move it either.
  void temperatureStuck(double time, double temperature, double step, double coolingRate);
  // The temperature after the last pass: a loop "while T > 300" also ends on not-a-number.
  void checkTemperature(double temperature, double time) {
    if (!std::isfinite(temperature)) temperatureBrokeDown(temperature, time);
  }

  // kExitRangeError once the run has broken down or stopped early, else kExitSuccess.
  int status() const;

 private:
  void warn(int node, double value, double time);
  void breakDown(int node, double value, double time);
  void temperatureBrokeDown(double temperature, double time);
  bool warned_ = false;
  bool brokenDown_ = false;
  bool stopped_ = false;
};

}  // namespace aerosol
