#pragma once
// Powers as the C library's pow returns them, formed from error-free products wherever that
// decides pow's own double (pow is called elsewhere): the Fuchs transition parameter of many
// nodes at once, the same doubles as fuchsTransition gives node by node.

namespace aerosol {

// pow(x, 3.0), pow(x, 1.5) and pow(x, 0.5), bit for bit.
double powCube(double x);
double powThreeHalves(double x);
double powSquareRoot(double x);

// g2[k] = g * g with g = fuchsTransition(d[k], l[k]), for the nodes k = from..to whose
// done[k] is 0; sets their done[k] to 1. scratch holds at least 2 (to + 1) doubles.
void fuchsTransitionSquares(const double* diameter, const double* particleMeanFreePath,
                            char* done, double* g2, double* scratch, int from, int to);

// pow(x, 3.0), pow(x, 1.5) and pow(x, 0.5) where error-free products decide them: true and the value, or
// false where the library must be asked (or the machine has no fused multiply-add).
bool knownCube(double x, double* value);
bool knownThreeHalves(double x, double* value);
bool knownSquareRoot(double x, double* value);

}  // namespace aerosol
