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
    case ParticleInit::Lognormal: {
      // Number n(ln d) normal in ln d (mean mu, deviation s); the volume (pi/6) d^3 n(ln d)
      // is normal too, about mu + 3 s^2, with total (pi/6) exp(3 mu + 4.5 s^2) per particle
      // (Hatch-Choate). Section edges are the node volumes' sphere diameters.
      const double mu = std::log(in.diameter * 1e-9);
      const double s = std::log(in.geometricStd);
      const double meanVolume = kPi / 6.0 * std::exp(3.0 * mu + 4.5 * s * s);
      const auto z = [&](int node, double shift) {
        return (std::log(std::cbrt(6.0 * vol(node) / kPi)) - mu - shift) / s;
      };
      const double inf = HUGE_VAL;
      const double shift = 3.0 * s * s;
      for (int k = first; k < n; ++k) {
        const double count = N * normalBetween(z(k, 0.0), z(k + 1, 0.0));
        const double volume = N * meanVolume * normalBetween(z(k, shift), z(k + 1, shift));
        if (count > 0.0) shareBetween(p.number, v, k, count, volume / count);
      }
      // The tails beyond the end nodes keep their number there.
      const double below = normalBetween(-inf, z(first, 0.0));
      const double above = normalBetween(z(n, 0.0), inf);
      at(first) += N * below;
      at(n) += N * above;
      p.numberOffGrid = below + above;
      p.volumeOffGrid = normalBetween(-inf, z(first, shift)) + normalBetween(z(n, shift), inf);
      break;
    }
  }
  return p;
}

}  // namespace aerosol
