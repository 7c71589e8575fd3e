#include "common/console.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/exit_status.h"

namespace aerosol {

bool emit(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = std::vfprintf(stdout, format, args);
  va_end(args);
  return written >= 0 && !std::ferror(stdout);
}

std::string showNumber(double value) {
  if (std::isnan(value)) return "nan";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10g", value);
  return buffer;
}

int reportWriteFailure() {
  const int reason = errno;
  std::fprintf(stderr, "aerosol: could not write the results to standard output: %s\n",
               reason != 0 ? std::strerror(reason) : "write error");
  return kExitWriteError;
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
