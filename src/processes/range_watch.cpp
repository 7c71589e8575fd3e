#include "processes/range_watch.h"

#include <cstdio>

#include "common/console.h"
#include "common/exit_status.h"

namespace aerosol {

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
