#pragma once
// Everything the program prints goes through here: standard output carries the results in
// their fixed formats; standard error carries diagnostics only.

#include <cfloat>
#include <cmath>

namespace aerosol {

// printf to standard output. Returns false when the text could not be written (disk full,
// closed pipe); the caller then ends the run with reportWriteFailure().
bool emit(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Says on standard error that the results could not be written; returns kExitWriteError.
int reportWriteFailure();

// A not-a-number prints as "nan" whatever its sign bit (0/0 carries a set sign bit on x86).
inline double shown(double value) { return std::isnan(value) ? std::fabs(value) : value; }

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

#include <chrono>

namespace aerosol {

// A single updating line on standard error with the share of the run done, the current
// temperature or time, passes per second and the time left. Only when standard error is a
// terminal: captured output and pipes stay untouched. A pass costs one increment and one
// test; the clock is read every 1024 passes and the line redrawn at most four times a second.
class ProgressLine {
 public:
  // `what` names the quantity shown ("T" in K or "t" in s); done is reached when `current`
  // goes from `start` to `end`.
  ProgressLine(const char* what, const char* unit, double start, double end);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void pass(double current) {
    if (!enabled_) return;
    if ((++passes_ & 1023u) == 0) redraw(current);
  }
  // For runs whose passes are few and slow: reads the clock at every pass.
  void slowPass(double current) {
    if (!enabled_) return;
    ++passes_;
    redraw(current);
  }

 private:
  void redraw(double current);
  bool enabled_ = false;
  bool drawn_ = false;
  unsigned long long passes_ = 0;
  const char* what_;
  const char* unit_;
  double start_;
  double end_;
  std::chrono::steady_clock::time_point begin_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace aerosol
