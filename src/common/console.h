#pragma once
// What both front doors print with: standard output carries the results in their fixed
// formats; standard error carries diagnostics only, and a progress line on a terminal.

#include <cmath>
#include <string>

namespace aerosol {

// printf to standard output. Returns false when the text could not be written (disk full,
// closed pipe); the caller then ends the run with reportWriteFailure().
bool emit(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Says on standard error that the results could not be written; returns kExitWriteError.
int reportWriteFailure();

// "%.10g" of a value, for messages ("nan" whatever the sign bit).
std::string showNumber(double value);

// A not-a-number prints as "nan" whatever its sign bit (0/0 carries a set sign bit on x86).
inline double shown(double value) { return std::isnan(value) ? std::fabs(value) : value; }

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
