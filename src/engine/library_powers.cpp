#include "engine/library_powers.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "coagulation/collision_kernel.h"

namespace aerosol {
namespace {

// Why the products give pow's own doubles. A power is formed as a double y and a remainder
// r, with y + r within 2^-100 (relative) of the exact power, from products whose rounding
// errors a fused multiply-add recovers exactly. When |r| <= 0.45 ulp(y), every other double
// lies at least 0.55 ulp from the exact power. The C library's pow is closer than that:
// glibc's is exp(y log x) with exp good to 0.509 ulp (0.511 without FMA) and log's relative
// error 1.3 2^-68 (1.5 2^-68), which adds |y log x| 2^53 times that, below 0.015 ulp while
// the power lies within 2^-450..2^450; at most 0.526 ulp in all. So pow returns y as well.
// Nearer a rounding boundary, at a y that is a power of two (whose lower neighbour is half
// an ulp away), and outside those bounds, pow itself is called.
//
// That bound is the GNU C library's (and its pow before 2.28 was correctly rounded); other
// libraries promise less, or nothing, so there pow is always called. musl's present pow is
// the same algorithm, but musl cannot be told from its headers, nor its older pow from it.
#if defined(__GLIBC__) && (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define AEROSOL_FMA __attribute__((target("avx2,fma")))
constexpr bool kLibraryAndMachineMayQualify = true;
#else
#define AEROSOL_FMA
constexpr bool kLibraryAndMachineMayQualify = false;
#endif

bool machineHasFma() {
#if defined(__GLIBC__) && (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
#else
  return false;
#endif
}

// y is the rounding of the exact value y + r; true when it is pow's result beyond doubt.
// The base lies within [low, high], which keeps the power within 2^-450..2^450 (and every
// remainder above the subnormals).
AEROSOL_FMA inline bool certain(double base, double low, double high, double y, double r) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(y);
  const double ulp = std::bit_cast<double>(bits & 0x7ff0000000000000ULL) * 0x1p-52;
  const bool powerOfTwo = (bits & 0x000fffffffffffffULL) == 0;
  // Bitwise, not short-circuit: the loops below stay free of branches.
  return (base >= low) & (base <= high) & !powerOfTwo & (std::fabs(r) <= 0.45 * ulp);
}

// x^3 = q + t: x x = p + e1 and p x = q + e2 exactly; t = e2 + e1 x.
AEROSOL_FMA inline bool cubeFromProducts(double x, double& y) {
  const double p = x * x;
  const double e1 = std::fma(x, x, -p);
  const double q = p * x;
  const double e2 = std::fma(p, x, -q);
  const double t = e2 + e1 * x;
  y = q + t;
  return certain(x, 0x1p-150, 0x1p150, y, (q - y) + t);
}

// s^1.5 = s sqrt(s): sqrt(s) = h + e/(2h) to second order, with e = s - h h exact for the
// correctly rounded h; s h = q + e2 exactly, and s e/(2h) = (e/2) h (1 + e/h^2), where
// e/h^2 < 2^-51 is below what the remainder needs.
AEROSOL_FMA inline bool threeHalvesFromProducts(double s, double& y) {
  const double h = std::sqrt(s);
  const double e = std::fma(-h, h, s);
  const double q = s * h;
  const double e2 = std::fma(s, h, -q);
  const double t = e2 + (0.5 * e) * h;
  y = q + t;
  return certain(s, 0x1p-300, 0x1p300, y, (q - y) + t);
}

// Three passes over the nodes: the powers from products (not a number where uncertain),
// branch-free so that it runs four nodes at a time; pow where uncertain; then g, as
// fuchsTransition forms it: (pow(d + l, 3.0) - pow(d d + l l, 1.5)) / (d l 3.0) - d.
AEROSOL_FMA void transitionSquaresFma(const double* __restrict d, const double* __restrict l,
                                      double* __restrict cube, double* __restrict threeHalves,
                                      double* __restrict g2, int from, int to) {
  for (int k = from; k <= to; ++k) {
    double y = 0.0;
    cube[k] = cubeFromProducts(d[k] + l[k], y) ? y : NAN;
    threeHalves[k] = threeHalvesFromProducts(d[k] * d[k] + l[k] * l[k], y) ? y : NAN;
  }
  for (int k = from; k <= to; ++k) {
    if (std::isnan(cube[k])) cube[k] = std::pow(d[k] + l[k], 3.0);
    if (std::isnan(threeHalves[k])) threeHalves[k] = std::pow(d[k] * d[k] + l[k] * l[k], 1.5);
  }
  for (int k = from; k <= to; ++k) {
    const double g = (cube[k] - threeHalves[k]) / (d[k] * l[k] * 3.0) - d[k];
    g2[k] = g * g;
  }
}

AEROSOL_FMA bool knownCubeFma(double x, double* value) { return cubeFromProducts(x, *value); }
AEROSOL_FMA bool knownThreeHalvesFma(double s, double* value) {
  return threeHalvesFromProducts(s, *value);
}

}  // namespace

void fuchsTransitionSquares(const double* d, const double* l, char* done, double* g2,
                            double* scratch, int from, int to) {
  if (productsDecidePowers()) {
    // Nodes already done are formed again, to the same doubles (this fill's d and l).
    const int width = to + 1;
    transitionSquaresFma(d, l, scratch, scratch + width, g2, from, to);
  } else {
    for (int k = from; k <= to; ++k) {
      if (done[k]) continue;
      const double g = fuchsTransition(d[k], l[k]);
      g2[k] = g * g;
    }
  }
  for (int k = from; k <= to; ++k) done[k] = 1;
}

bool productsDecidePowers() { return kLibraryAndMachineMayQualify && machineHasFma(); }

bool knownCube(double x, double* value) {
  return productsDecidePowers() && knownCubeFma(x, value);
}

bool knownThreeHalves(double s, double* value) {
  return productsDecidePowers() && knownThreeHalvesFma(s, value);
}

}  // namespace aerosol
