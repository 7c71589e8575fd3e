#pragma once
// The program's exit statuses, for both front doors.

namespace aerosol {

// -1 (255 in a shell) is the historical status of an input file that cannot be opened; input
// that can be read but not run with gets 1; results that cannot be written, 2; a run that
// left the physical range (a concentration or the temperature not a finite number) or could
// not finish (a step that no longer moves the run, an integrator failure, an interruption), 3.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitOpenFailure = -1;
inline constexpr int kExitInputError = 1;
inline constexpr int kExitWriteError = 2;
inline constexpr int kExitRangeError = 3;

}  // namespace aerosol
