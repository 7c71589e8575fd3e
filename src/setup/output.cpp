#include "setup/output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "setup/run_settings.h"

namespace aerosol {

bool emit(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = std::vfprintf(stdout, format, args);
  va_end(args);
  return written >= 0 && !std::ferror(stdout);
}

int reportWriteFailure() {
  const int reason = errno;
  std::fprintf(stderr, "aerosol: could not write the results to standard output: %s\n",
               reason != 0 ? std::strerror(reason) : "write error");
  return kExitWriteError;
}

void RangeWatch::warn(int node, double value, double time) {
  warned_ = true;
  std::fprintf(stderr,
               "aerosol: warning: at t = %e s the concentration of node %d became %e; the run "
               "has left the physical range (a time step too large for the rates?)\n",
               shown(time), node, shown(value));
}

void RangeWatch::breakDown(int node, double value, double time) {
  brokenDown_ = true;
  std::fprintf(stderr,
               "aerosol: at t = %e s the concentration of node %d became %e, not a finite "
               "number: the run has broken down; its tables are printed to the end and it "
               "ends with status %d\n",
               shown(time), node, shown(value), kExitRangeError);
}

void RangeWatch::temperatureBrokeDown(double temperature, double time) {
  brokenDown_ = true;
  std::fprintf(stderr,
               "aerosol: at t = %e s the temperature became %e K, not a finite number: the run "
               "has broken down and ends with status %d\n",
               shown(time), shown(temperature), kExitRangeError);
}

void RangeWatch::timeStuck(double time, double step) {
  stopped_ = true;
  std::fprintf(stderr,
               "aerosol: at t = %e s the time step became %e s and cannot advance the run; it "
               "stops here, prints its final table and ends with status %d\n",
               shown(time), shown(step), kExitRangeError);
}

void RangeWatch::temperatureStuck(double time, double temperature, double step,
                                  double coolingRate) {
  stopped_ = true;
  std::fprintf(stderr,
               "aerosol: at t = %e s a time step of %e s at %s K/s no longer changes the "
               "temperature %.17g K (it cools by %e K, no more than half the spacing of "
               "doubles there), so the gas would never reach 300 K; the run stops here and "
               "ends with status %d\n",
               shown(time), step, showNumber(coolingRate).c_str(), temperature,
               step * coolingRate, kExitRangeError);
}

int RangeWatch::status() const {
  return brokenDown_ || stopped_ ? kExitRangeError : kExitSuccess;
}

}  // namespace aerosol

#include <unistd.h>

namespace aerosol {

ProgressLine::ProgressLine(const char* what, const char* unit, double start, double end)
    : what_(what), unit_(unit), start_(start), end_(end) {
  enabled_ = isatty(STDERR_FILENO) == 1;
  begin_ = std::chrono::steady_clock::now();
  lastDraw_ = begin_;
}

ProgressLine::~ProgressLine() {
  if (drawn_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}

void ProgressLine::redraw(double current) {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastDraw_ < std::chrono::milliseconds(250)) return;
  lastDraw_ = now;
  const double elapsed = std::chrono::duration<double>(now - begin_).count();
  double done = (current - start_) / (end_ - start_);
  if (!(done >= 0.0)) done = 0.0;
  if (done > 1.0) done = 1.0;
  const double rate = elapsed > 0.0 ? static_cast<double>(passes_) / elapsed : 0.0;
  char left[32] = "?";
  if (done > 0.0) {
    const double seconds = elapsed * (1.0 - done) / done;
    if (seconds < 3600.0)
      std::snprintf(left, sizeof left, "%dm%02ds", static_cast<int>(seconds) / 60,
                    static_cast<int>(seconds) % 60);
    else
      std::snprintf(left, sizeof left, "%.1fh", seconds / 3600.0);
  }
  std::fprintf(stderr, "\r\033[K%5.1f%%  %s = %.6g %s  %.3g passes/s  %s left", done * 100.0,
               what_, current, unit_, rate, left);
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace aerosol
