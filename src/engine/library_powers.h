#pragma once
// Powers as the C library's pow returns them, formed from error-free products wherever that
// decides pow's own double (pow is called elsewhere): the Fuchs transition parameter of many
// nodes at once, the same doubles as fuchsTransition gives node by node.
//
// The products are used only where the C library's pow is known to stay within 0.55 ulp
// (GNU libc) and the machine has a fused multiply-add (x86-64 with FMA, found at run time);
// everywhere else pow is called for every node.

namespace aerosol {

// g2[k] = g * g with g = fuchsTransition(d[k], l[k]), for the nodes k = from..to whose
// done[k] is 0; sets their done[k] to 1. scratch holds at least 2 (to + 1) doubles.
void fuchsTransitionSquares(const double* diameter, const double* particleMeanFreePath,
                            char* done, double* g2, double* scratch, int from, int to);

// Whether the products are used here (the library and the machine both qualify).
bool productsDecidePowers();

// pow(x, 3.0) and pow(x, 1.5) where error-free products decide them: true and the value, or
// false where the library must be asked (or the products are not used here).
bool knownCube(double x, double* value);
bool knownThreeHalves(double x, double* value);

}  // namespace aerosol
