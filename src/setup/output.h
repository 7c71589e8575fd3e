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

// Warns once per run, on standard error, when a concentration first turns negative (beyond
// subnormal size) or non-finite: the explicit steps clip nothing, so this marks where a run
// has left the physical range.
class RangeWatch {
 public:
  // Checks nodes first..last of N at time t (s).
  void check(const double* concentration, int first, int last, double time) {
    if (warned_) return;
    for (int k = first; k <= last; ++k) {
      // Subnormal negatives (below 2.2e-308 in size) are rounding dust in the far tail of a
      // distribution, not a run out of range.
      const double value = concentration[k];
      if (!(value >= -DBL_MIN) || value == INFINITY) {
        warn(k, value, time);
        return;
      }
    }
  }

 private:
  void warn(int node, double value, double time);
  bool warned_ = false;
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
