#include "case/initial_particles.h"

#include <algorithm>
#include <cmath>

#include "coagulation/node_grid.h"
#include "properties/constants.h"

namespace aerosol {
namespace {

// The standard normal's probability between za and zb (za <= zb), from the side of the
// smaller tail, so that sections far out keep their digits.
double normalBetween(double za, double zb) {
  const double r = 1.0 / std::sqrt(2.0);
  if (za >= 0.0) return 0.5 * (std::erfc(za * r) - std::erfc(zb * r));
  if (zb <= 0.0) return 0.5 * (std::erfc(-zb * r) - std::erfc(-za * r));
  return 1.0 - 0.5 * (std::erfc(-za * r) + std::erfc(zb * r));
}

// Shares number `count` of mean volume `meanVolume` between nodes k and k + 1, keeping both
// moments: lower + upper = count, lower v_k + upper v_k+1 = count meanVolume.
void shareBetween(std::vector<double>& number, const std::vector<double>& v, int k, double count,
                  double meanVolume) {
  const auto i = static_cast<std::size_t>(k);
  const double upperShare = std::clamp((meanVolume - v[i]) / (v[i + 1] - v[i]), 0.0, 1.0);
  const double upper = count * upperShare;
  number[i - 1] += count - upper;
  number[i] += upper;
}

// What a continuous distribution holds between two node volumes (#/m3 and m3/m3), and the
// shares of its number and volume below the first node and above the last.
struct Section {
  double count;
  double volume;
};
struct Tails {
  double numberBelow, numberAbove, volumeBelow, volumeAbove;
};

// Number n(ln d) normal in ln d (mean mu, deviation s); the volume (pi/6) d^3 n(ln d) is
// normal too, about mu + 3 s^2, with total (pi/6) exp(3 mu + 4.5 s^2) per particle
// (Hatch-Choate). Section edges are the node volumes' sphere diameters.
struct Lognormal {
  double N, mu, s, meanVolume;
  Lognormal(double concentration, double diameterNm, double sigma)
      : N(concentration), mu(std::log(diameterNm * 1e-9)), s(std::log(sigma)),
        meanVolume(kPi / 6.0 * std::exp(3.0 * mu + 4.5 * s * s)) {}
  double z(double volume, double shift) const {
    return (std::log(std::cbrt(6.0 * volume / kPi)) - mu - shift) / s;
  }
  Section between(double va, double vb) const {
    const double shift = 3.0 * s * s;
    return {N * normalBetween(z(va, 0.0), z(vb, 0.0)),
            N * meanVolume * normalBetween(z(va, shift), z(vb, shift))};
  }
  Tails beyond(double first, double last) const {
    const double inf = HUGE_VAL;
    const double shift = 3.0 * s * s;
    return {normalBetween(-inf, z(first, 0.0)), normalBetween(z(last, 0.0), inf),
            normalBetween(-inf, z(first, shift)), normalBetween(z(last, shift), inf)};
  }
};

// n(v) = (N / v0) exp(-v / v0), mean volume v0: the initial distribution whose evolution under
// the constant and additive kernels is known in closed form. Between a = va / v0 and
// a + d the number is N e^-a (1 - e^-d) and the particles' mean lies a fraction
// 1/d - 1/(e^d - 1) of the section above va (its series for narrow sections, whose two
// terms would cancel).
struct Exponential {
  double N, v0;
  Section between(double va, double vb) const {
    const double a = va / v0;
    const double d = (vb - va) / v0;
    const double count = N * std::exp(-a) * -std::expm1(-d);
    const double d2 = d * d;
    const double above =
        d < 1e-2 ? 0.5 - d / 12.0 + d * d2 / 720.0 - d * d2 * d2 / 30240.0
                 : 1.0 / d - 1.0 / std::expm1(d);
    return {count, count * (va + above * (vb - va))};
  }
  Tails beyond(double first, double last) const {
    const double a = first / v0;
    const double b = last / v0;
    return {-std::expm1(-a), std::exp(-b), -std::expm1(-a) - a * std::exp(-a),
            (1.0 + b) * std::exp(-b)};
  }
};

// A distribution section by section between the nodes first..n, each section shared between
// its two nodes; the tails go into the end nodes with their number.
template <class Distribution>
void placeSections(const Distribution& f, double N, const std::vector<double>& v, int first,
                   int n, ParticlePlacement& p) {
  const auto at = [&](int node) { return static_cast<std::size_t>(node); };
  for (int k = first; k < n; ++k) {
    const Section s = f.between(v[at(k)], v[at(k + 1)]);
    if (s.count > 0.0) shareBetween(p.number, v, k, s.count, s.volume / s.count);
  }
  const Tails t = f.beyond(v[at(first)], v[at(n)]);
  p.number[at(first) - 1] += N * t.numberBelow;
  p.number[at(n) - 1] += N * t.numberAbove;
  p.numberOffGrid = t.numberBelow + t.numberAbove;
  p.volumeOffGrid = t.volumeBelow + t.volumeAbove;
}

}  // namespace

ParticlePlacement placeInitialParticles(const InitialState& in, const std::vector<double>& v,
                                        int first, int n) {
  ParticlePlacement p;
  p.number.assign(static_cast<std::size_t>(n), 0.0);
  const double N = in.concentration;
  auto at = [&](int node) -> double& { return p.number[static_cast<std::size_t>(node - 1)]; };
  const auto vol = [&](int node) { return v[static_cast<std::size_t>(node)]; };
  switch (in.particles) {
    case ParticleInit::None:
      break;
    case ParticleInit::SeededNode:
      if (in.seedNode >= first && in.seedNode <= n) at(in.seedNode) += N;
      break;
    case ParticleInit::Monodisperse: {
      const double vp = volumeOfDiameterNm(in.diameter);
      if (vp <= vol(first) * (1.0 + 1e-12)) {
        at(first) += N;
        if (vp < vol(first) * (1.0 - 1e-9)) p.numberOffGrid = p.volumeOffGrid = 1.0;
      } else if (vp >= vol(n)) {
        at(n) += N;
        if (vp > vol(n) * (1.0 + 1e-9)) p.numberOffGrid = p.volumeOffGrid = 1.0;
      } else {
        int k = first;
        while (k < n && !(vp < vol(k + 1))) ++k;
        shareBetween(p.number, v, k, N, vp);
      }
      break;
    }
    case ParticleInit::Lognormal:
      placeSections(Lognormal(N, in.diameter, in.geometricStd), N, v, first, n, p);
      break;
    case ParticleInit::Exponential:
      placeSections(Exponential{N, volumeOfDiameterNm(in.diameter)}, N, v, first, n, p);
      break;
  }
  return p;
}

}  // namespace aerosol
