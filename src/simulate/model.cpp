#include "simulate/model.h"

#include "coagulation/coagulation_rates.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace aerosol {
namespace {

// Any time step but the fixed-step processes' start-up step of 0.0001 s, which the growth
// operator takes as its signal that growth is still off. The rates do not depend on it.
constexpr double kGrowthOn = 1.0;

std::string show(double value) { return showNumber(value); }

}  // namespace

GasState gasStateAt(const TemperatureHistory& h, double gasPressure, double t) {
  GasState g;
  g.pressure = gasPressure;
  switch (h.law) {
    case TemperatureLaw::Constant:
      g.temperature = h.start;
      break;
    case TemperatureLaw::CoolingRate:
      // The processes cool as T - dt rate per step; over the whole run that is T0 - rate t.
      g.temperature = h.start - h.coolingRate * t;
      break;
    case TemperatureLaw::Table: {
      const std::vector<TemperaturePoint>& p = h.table;
      if (p.empty()) {
        g.temperature = h.start;
        break;
      }
      const bool pressures = p.front().pressure > 0.0;
      if (t <= p.front().time) {
        g.temperature = p.front().temperature;
        if (pressures) g.pressure = p.front().pressure;
        break;
      }
      if (t >= p.back().time) {
        g.temperature = p.back().temperature;
        if (pressures) g.pressure = p.back().pressure;
        break;
      }
      // The segment [t_i, t_{i+1}) holding t.
      const auto next = std::upper_bound(
          p.begin(), p.end(), t,
          [](double time, const TemperaturePoint& point) { return time < point.time; });
      const TemperaturePoint& b = *next;
      const TemperaturePoint& a = *(next - 1);
      const double w = (t - a.time) / (b.time - a.time);
      g.temperature = a.temperature + w * (b.temperature - a.temperature);
      if (pressures) g.pressure = a.pressure + w * (b.pressure - a.pressure);
      break;
    }
  }
  return g;
}

bool caseEndTime(const SimulationCase& c, double& endTime, std::string& message) {
  const TemperatureHistory& h = c.temperature;
  endTime = 0.0;
  if (c.end.rule == EndRule::Time) {
    endTime = c.end.time;
  } else {
    const double Te = c.end.temperature;
    switch (h.law) {
      case TemperatureLaw::Constant:
        if (h.start == Te) endTime = 0.0;
        else endTime = std::numeric_limits<double>::infinity();
        break;
      case TemperatureLaw::CoolingRate:
        endTime = (h.start - Te) / h.coolingRate;
        if (!(endTime >= 0.0)) endTime = std::numeric_limits<double>::infinity();
        break;
      case TemperatureLaw::Table: {
        endTime = std::numeric_limits<double>::infinity();
        const std::vector<TemperaturePoint>& p = h.table;
        for (std::size_t i = 0; i < p.size(); ++i) {
          if (p[i].temperature == Te) {
            endTime = p[i].time;
            break;
          }
          if (i + 1 < p.size()) {
            const double a = p[i].temperature - Te;
            const double b = p[i + 1].temperature - Te;
            if ((a > 0.0 && b < 0.0) || (a < 0.0 && b > 0.0)) {
              endTime = p[i].time + (p[i + 1].time - p[i].time) * (a / (a - b));
              break;
            }
          }
        }
        break;
      }
    }
    if (!std::isfinite(endTime)) {
      message = c.source + ": the temperature history never reaches the end temperature " +
                show(Te) + " K";
      return false;
    }
  }
  if (!(std::isfinite(endTime) && endTime > 0.0)) {
    message = c.source + ": the run would last " + show(endTime) +
              " s; expected an end time above 0";
    return false;
  }
  return true;
}

std::vector<double> outputTimes(const OutputSpec& output, double endTime) {
  const int m = std::max(output.times, 2);
  std::vector<double> times(static_cast<std::size_t>(m), 0.0);
  if (output.spacing == TimeSpacing::Logarithmic && m > 2) {
    // t = 0, then m - 1 times evenly spaced in log t from endTime * 1e-6 to endTime: six
    // decades show the fast start (nucleation bursts, the first coagulation) as well as
    // the slow end.
    const double decades = -std::log10(kFirstLogarithmicTime);
    for (int i = 1; i < m; ++i)
      times[static_cast<std::size_t>(i)] =
          endTime * std::pow(10.0, -decades * static_cast<double>(m - 1 - i) /
                                       static_cast<double>(m - 2));
  } else {
    for (int i = 1; i < m; ++i)
      times[static_cast<std::size_t>(i)] =
          endTime * (static_cast<double>(i) / static_cast<double>(m - 1));
  }
  times.back() = endTime;
  return times;
}

AerosolModel::AerosolModel(const SimulationCase& c) : case_(c) {
  n_ = c.grid.nodeCount;
  if (n_ < kSimulateMinNodes || n_ > kSimulateMaxNodes) {
    message_ = c.source + ": " + std::to_string(n_) + " nodes; expected " +
               std::to_string(kSimulateMinNodes) + " to " + std::to_string(kSimulateMaxNodes);
    return;
  }
  const Mechanisms& m = c.mechanisms;
  vapor_ = m.vapor != VaporMode::None;
  depleted_ = m.vapor == VaporMode::Depleted;
  // Nucleation and growth need a vapour.
  nucleation_ = vapor_ && m.nucleation;
  growth_ = vapor_ && m.growth;
  coagulation_ = m.coagulation;
  pressureVaries_ = c.temperature.law == TemperatureLaw::Table && !c.temperature.table.empty() &&
                    c.temperature.table.front().pressure > 0.0;

  const double T0 = gasStateAt(c.temperature, c.gas.pressure, 0.0).temperature;
  const double P0 = gasStateAt(c.temperature, c.gas.pressure, 0.0).pressure;
  RunSettings& s = settings_;
  s.nodeCount = n_;
  s.startTemperature = T0;
  s.coolingRate = c.temperature.coolingRate;
  s.pressure = P0;
  s.molecularWeight = c.material.molarMass;
  s.density = c.material.density;
  s.surfaceTensionA = c.material.surfaceTensionA;
  s.surfaceTensionB = c.material.surfaceTensionB;
  s.vaporPressureC = c.material.vaporPressureC;
  s.vaporPressureD = c.material.vaporPressureD;
  s.process = vapor_ ? (growth_ ? 3 : 2) : 1;
  s.collisionFunction = m.kernel == KernelForm::Fuchs ? 2 : 1;
  s.sutherlandA = c.gas.sutherlandA;
  s.sutherlandB = c.gas.sutherlandB;
  s.spacingFactor = c.grid.spacingFactor > 0.0
                        ? c.grid.spacingFactor
                        : std::pow(10.0, 12.0 / static_cast<double>(n_ - 2));
  double v1 = c.grid.firstVolume;
  if (!(v1 > 0.0) && vapor_) v1 = c.material.molarMass / (c.material.density * 6.0225e23);
  s.monomerVolume = v1;
  vaporSettings_ = s;
  vaporSettings_.pressure = c.material.factorIsGasPressure ? P0 : c.material.vaporPressureFactor;

  if (!(std::isfinite(v1) && v1 > 0.0) || !gridVolumesUsable(v1, s)) {
    message_ = c.source + ": a grid of " + std::to_string(n_) + " nodes from " + show(v1) +
               " m3 with spacing factor " + show(s.spacingFactor) +
               " has node volumes that are 0 or overflow";
    return;
  }

  const int capacity = tableCapacity(n_);
  grid_ = makeNodeGrid(capacity);
  buildNodeGrid(grid_, v1, s.spacingFactor, s.density, n_, c.grid.diameterExponent);
  kernel_ = makeCollisionKernel(capacity);
  const int first = vapor_ ? 2 : 1;
  if (coagulation_) {
    split_ = makeSplitOperator(capacity);
    buildSplitOperator(split_, grid_.volume, n_);
  }
  try {
    kernels_.prepare(s, grid_, coagulation_ ? &split_ : nullptr, n_, first);
  } catch (const std::exception& e) {
    message_ = c.source + ": " + e.what();
    return;
  }
  if (coagulation_) {
    // The terms of the gain sums, in their order, for the Jacobian.
    for (int k = first; k <= n_; ++k)
      for (int i = first; i <= n_; ++i)
        for (int j = first; j <= k; ++j)
          if (split_.at(i, j, k) != 0.0) gainTerms_.push_back({i, j, k, split_.at(i, j, k)});
  }
  if (vapor_) monomer_ = computeMonomerProperties(s.density, v1);
  const auto size = static_cast<std::size_t>(capacity);
  N_.assign(size, 0.0);
  gain_.assign(size, 0.0);
  loss_.assign(size, 0.0);
  xi_.assign(size, 0.0);
  Ks_.assign(size, 0.0);
  growthDiameter_.assign(size, 0.0);
  growthRates_ = makeGrowthRates(capacity);
  rateBase_.assign(static_cast<std::size_t>(n_), 0.0);
  rateStep_.assign(static_cast<std::size_t>(n_), 0.0);
  yStep_.assign(static_cast<std::size_t>(n_), 0.0);
}

GasState AerosolModel::gasAt(double t) const {
  return gasStateAt(case_.temperature, case_.gas.pressure, t);
}

OutputGrid AerosolModel::outputGrid() const {
  OutputGrid g;
  g.nodeCount = n_;
  g.nodeOneIsVapor = vapor_;
  g.volume.assign(grid_.volume.begin() + 1, grid_.volume.begin() + 1 + n_);
  g.diameter.assign(grid_.diameter.begin() + 1, grid_.diameter.begin() + 1 + n_);
  return g;
}

std::vector<double> AerosolModel::initialState() const {
  std::vector<double> y(static_cast<std::size_t>(n_), 0.0);
  if (!ok()) return y;
  const InitialState& in = case_.initial;
  const int first = vapor_ ? 2 : 1;
  const std::vector<double>& v = grid_.volume;
  if (vapor_) {
    if (in.saturationRatio > 0.0) {
      // As the processes start: S0 times the saturation concentration at T0.
      NucleationState st;
      computeSaturation(vaporSettings_, settings_.startTemperature, st);
      y[0] = in.saturationRatio * st.saturationConcentration;
    } else {
      y[0] = in.monomerConcentration;
    }
  }
  auto at = [&y](int node) -> double& { return y[static_cast<std::size_t>(node - 1)]; };
  switch (in.particles) {
    case ParticleInit::None:
      break;
    case ParticleInit::SeededNode:
      if (in.seedNode >= first && in.seedNode <= n_) at(in.seedNode) += in.concentration;
      break;
    case ParticleInit::Monodisperse: {
      // The volume of a particle of d nm, as process 1 forms its seed volume; shared between
      // the two bracketing nodes conserving number and volume (all of it in the end node
      // outside the grid).
      const double d = in.diameter;
      const double vp = std::pow(d, 3.0) * (3.1415926 * 1e-27) / 6.0;
      if (vp <= v[static_cast<std::size_t>(first)] * (1.0 + 1e-12)) {
        at(first) += in.concentration;
      } else if (vp >= v[static_cast<std::size_t>(n_)]) {
        at(n_) += in.concentration;
      } else {
        int k = first;
        while (k < n_ && !(vp < v[static_cast<std::size_t>(k + 1)])) ++k;
        const double lo = v[static_cast<std::size_t>(k)];
        const double hi = v[static_cast<std::size_t>(k + 1)];
        const double upper = in.concentration * ((vp - lo) / (hi - lo));
        at(k) += in.concentration - upper;
        at(k + 1) += upper;
      }
      break;
    }
    case ParticleInit::Lognormal: {
      // Number in each node's share of ln d (boundaries halfway between node diameters in
      // ln d; the end nodes take the tails), so the total number is exact.
      const double mu = std::log(in.diameter * 1e-9);
      const double lnSigma = std::log(in.geometricStd);
      auto below = [&](double lnD) {
        return 0.5 * std::erfc(-(lnD - mu) / (lnSigma * std::sqrt(2.0)));
      };
      double previous = 0.0;
      for (int k = first; k <= n_; ++k) {
        double upTo = 1.0;
        if (k < n_) {
          const double edge = 0.5 * (std::log(grid_.diameter[static_cast<std::size_t>(k)]) +
                                     std::log(grid_.diameter[static_cast<std::size_t>(k + 1)]));
          upTo = below(edge);
        }
        at(k) += in.concentration * (upTo - previous);
        previous = upTo;
      }
      break;
    }
  }
  return y;
}

NucleationState AerosolModel::vaporState(const GasState& gas, double N1) {
  if (case_.material.factorIsGasPressure) vaporSettings_.pressure = gas.pressure;
  if (N1 > 0.0) return computeNucleationState(vaporSettings_, monomer_, gas.temperature, N1);
  // No monomers: S = 0, nothing to nucleate (the classical formulas take log S).
  NucleationState st;
  computeSaturation(vaporSettings_, gas.temperature, st);
  return st;
}

bool AerosolModel::rhs(double t, const double* y, double* ydot) {
  const GasState gas = gasAt(t);
  fillTables(gas);
  return sumRates(gas, y, ydot, coagulation_);
}

bool AerosolModel::straightforward() const {
  return pressureVaries_ && settings_.collisionFunction == 2 && (coagulation_ || growth_);
}

void AerosolModel::fillTables(const GasState& gas) {
  const double T = gas.temperature;
  // The collision table at T, in the order the drivers fill and use it.
  if (straightforward()) {
    // The engine keeps the gas pressure it was prepared with; a table of pressures changes
    // the Fuchs mean free path, so its kernel comes from the straightforward form at this
    // pressure (the free-molecular kernel does not depend on pressure). The table is kept
    // while T and P stay the same (the Jacobian's evaluations).
    if (T == tableTemperature_ && gas.pressure == tablePressure_) return;
    settings_.pressure = gas.pressure;
    computeCollisionKernel(T, settings_, grid_, n_, kernel_);
    tableTemperature_ = T;
    tablePressure_ = gas.pressure;
  } else if (coagulation_) {
    kernels_.fillKernel(T, kernel_);
  } else if (growth_) {
    if (settings_.collisionFunction == 2)
      kernels_.fillKernel(T, kernel_);
    else
      kernels_.fillMonomerRow(T, kernel_);
  }
}

bool AerosolModel::sumRates(const GasState& gas, const double* y, double* ydot,
                            bool withCoagulation) {
  const int n = n_;
  const double T = gas.temperature;
  std::vector<double>& N = N_;
  for (int k = 1; k <= n; ++k) N[static_cast<std::size_t>(k)] = y[k - 1];
  for (int k = 0; k < n; ++k) ydot[k] = 0.0;
  const std::vector<double>& v = grid_.volume;
  // Nucleation: xi_k J new particles at the node that takes the critical cluster, J k*
  // monomers used. Only above saturation: below it the classical formulas give a negative
  // critical size (the processes then move particles and monomers backwards). And only while
  // a node takes the clusters: a critical cluster above the top node would use monomers
  // without adding particles (its rate is vanishingly small anyway).
  double J = 0.0;
  double monomersUsed = 0.0;
  NucleationState st;
  if (vapor_) st = vaporState(gas, N[1]);
  if (nucleation_ && st.saturationRatio > 1.0) {
    computeNucleationFractions(v, n, st.criticalVolume, xi_);
    int node = 0;
    for (int k = 2; k <= n && node == 0; ++k)
      if (xi_[static_cast<std::size_t>(k)] != 0.0) node = k;
    const int placement = held_ == kFollowState ? (node == 0 ? n + 1 : node) : held_;
    if (placement != node && placement >= 2 && placement <= n) {
      // The held node, with the fraction that conserves volume there, as the operator forms it.
      for (int k = 2; k <= n; ++k) xi_[static_cast<std::size_t>(k)] = 0.0;
      xi_[static_cast<std::size_t>(placement)] =
          st.criticalVolume / v[static_cast<std::size_t>(placement)];
    }
    if (placement >= 2 && placement <= n) {
      J = st.nucleationRate;
      monomersUsed = J * st.criticalSize;
    }
  }
  if (J == 0.0)
    for (int k = 2; k <= n; ++k) xi_[static_cast<std::size_t>(k)] = 0.0;

  const bool plain = straightforward();
  double uptake = 0.0;
  double release = 0.0;
  if (growth_) {
    const GrowthInputs in{n,  &v, &N, &kernel_.beta[kernel_.index(1, 0)],
                          st.surfaceTension, st.saturationConcentration, T,
                          settings_.molecularWeight, settings_.density, kGrowthOn};
    if (plain)
      computeGrowthRates(in, growthDiameter_, Ks_, growthRates_);
    else
      kernels_.growth(in, growthDiameter_, Ks_, growthRates_);
    uptake = growthRates_.monomerUptake;
    release = growthRates_.monomerRelease;
    // Volume conservation: particles that evaporate out of node 2 leave the grid as monomers,
    // v2/v1 of them each. The growth operator returns one monomer per unit of flux
    // (Ks2 - N1) beta_2 N2, while v1/(v2 - v1) particles per unit of flux leave node 2: the
    // rest, (v2/(v2 - v1) - 1) per unit of flux, is exactly node 2's growth loss.
    if (Ks_[2] > N[1]) release = release + growthRates_.growthLoss[2];
  }
  if (withCoagulation) {
    if (plain)
      coagulationRates(N, split_, kernel_, n, vapor_ ? 2 : 1, gain_, loss_);
    else
      kernels_.coagulation(N, kernel_, gain_, loss_);
  }

  bool finite = true;
  const int first = vapor_ ? 2 : 1;
  for (int k = first; k <= n; ++k) {
    const auto i = static_cast<std::size_t>(k);
    // The sum in the order of the processes' update.
    const double nucleated = nucleation_ ? xi_[i] * J : 0.0;
    const double coagulated = withCoagulation ? 0.5 * gain_[i] - N[i] * loss_[i] : 0.0;
    double rate = nucleated + coagulated;
    if (growth_) rate = rate + growthRates_.growthGain[i] - growthRates_.growthLoss[i];
    ydot[k - 1] = rate;
    finite = finite && std::isfinite(rate);
  }
  if (depleted_) {
    double rate = -monomersUsed;
    if (growth_) rate = rate - (uptake - release);
    ydot[0] = rate;
    finite = finite && std::isfinite(rate);
  }
  return finite;
}

bool AerosolModel::jacobian(double t, const double* y, double* const* columns) {
  const int n = n_;
  const GasState gas = gasAt(t);
  fillTables(gas);
  // The whole table: the sums' on-demand fills leave out the pairs of empty nodes, whose
  // entries the derivatives need.
  if (!straightforward() && (coagulation_ || (growth_ && settings_.collisionFunction == 2)))
    kernels_.writeFullTable(kernel_);
  for (int m = 0; m < n; ++m)
    for (int k = 0; k < n; ++k) columns[m][k] = 0.0;
  bool finite = true;

  if (coagulation_) {
    // R_k = 0.5 G_k - N_k L_k with G_k = sum chi beta_ij N_i N_j and L_k = sum_i beta_ki N_i.
    const int first = vapor_ ? 2 : 1;
    for (int k = first; k <= n; ++k) {
      const double Nk = y[k - 1];
      double L = 0.0;
      for (int i = first; i <= n; ++i) {
        const double beta = kernel_.at(k, i);
        L = L + beta * y[i - 1];
        columns[i - 1][k - 1] -= Nk * beta;
      }
      columns[k - 1][k - 1] -= L;
    }
    for (const GainTerm& term : gainTerms_) {
      const double w = 0.5 * term.chi * kernel_.at(term.i, term.j);
      columns[term.i - 1][term.k - 1] += w * y[term.j - 1];
      columns[term.j - 1][term.k - 1] += w * y[term.i - 1];
    }
  }

  if (nucleation_ || growth_) {
    // The other rates by difference quotients. Given N1 they are linear in each particle
    // node, so a step as large as the largest particle concentration is exact and keeps the
    // quotient clear of the rounding of large rates (the monomers' J k* dwarfs growth in a
    // burst); in N1 they are not: a step of sqrt(eps) N1.
    const double root = std::sqrt(std::numeric_limits<double>::epsilon());
    double scale = 0.0;
    for (int k = 2; k <= n; ++k) scale = std::max(scale, std::fabs(y[k - 1]));
    if (!(scale > 0.0)) scale = 1.0;
    finite = sumRates(gas, y, rateBase_.data(), false) && finite;
    std::copy(y, y + n, yStep_.begin());
    for (int m = 0; m < n; ++m) {
      const double base = y[m];
      const double step = m == 0 ? root * std::max(std::fabs(base), 1.0)
                                 : std::max(std::fabs(base), scale);
      yStep_[static_cast<std::size_t>(m)] = base + step;
      const double taken = yStep_[static_cast<std::size_t>(m)] - base;
      finite = sumRates(gas, yStep_.data(), rateStep_.data(), false) && finite;
      for (int k = 0; k < n; ++k)
        columns[m][k] += (rateStep_[static_cast<std::size_t>(k)] -
                          rateBase_[static_cast<std::size_t>(k)]) / taken;
      yStep_[static_cast<std::size_t>(m)] = base;
    }
  }
  for (int m = 0; m < n && finite; ++m)
    for (int k = 0; k < n; ++k) finite = finite && std::isfinite(columns[m][k]);
  return finite;
}

int AerosolModel::placementOf(double t, const double* y) {
  if (!vapor_ || !nucleation_) return kNoSaturation;
  const NucleationState st = vaporState(gasAt(t), y[0]);
  if (!(st.saturationRatio > 1.0)) return kNoSaturation;
  computeNucleationFractions(grid_.volume, n_, st.criticalVolume, xi_);
  for (int k = 2; k <= n_; ++k)
    if (xi_[static_cast<std::size_t>(k)] != 0.0) return k;
  return n_ + 1;
}

void AerosolModel::placementRoots(double t, const double* y, double* g) {
  g[0] = 1.0;
  g[1] = 1.0;
  if (!vapor_ || !nucleation_ || held_ == kFollowState) return;
  const NucleationState st = vaporState(gasAt(t), y[0]);
  const double S = y[0] > 0.0 ? st.saturationRatio : 0.0;
  const std::vector<double>& v = grid_.volume;
  const int k = held_;
  if (k == kNoSaturation) {
    g[0] = S - 1.0;  // saturation reached
    return;
  }
  // v* grows without bound as S falls to 1: a state below saturation lies above every node.
  const bool above = !(S > 1.0);
  const double lnV = above ? 0.0 : std::log(st.criticalVolume);
  if (k == n_ + 1) {
    g[0] = S - 1.0;                                                              // S falls to 1
    g[1] = above ? 1.0 : lnV - std::log(v[static_cast<std::size_t>(n_)]);  // v* below v_n
    return;
  }
  g[0] = above ? 1.0 : lnV - std::log(v[static_cast<std::size_t>(k)]);  // v* reaches v_k
  if (k >= 3) g[1] = above ? 1.0 : lnV - std::log(v[static_cast<std::size_t>(k - 1)]);
}

int AerosolModel::placementAcross(int which, int direction) const {
  const int k = held_;
  if (k == kFollowState) return k;
  if (k == kNoSaturation) return direction > 0 ? n_ + 1 : k;
  if (k == n_ + 1) {
    if (which == 0) return direction < 0 ? kNoSaturation : k;
    return direction < 0 ? n_ : k;
  }
  if (which == 0) return direction > 0 ? k + 1 : k;
  return direction < 0 && k >= 3 ? k - 1 : k;
}

void AerosolModel::describe(double t, const double* y, OutputSample& out) {
  const int n = n_;
  const GasState gas = gasAt(t);
  out.time = t;
  out.temperature = gas.temperature;
  out.pressure = gas.pressure;
  out.concentration.assign(y, y + n);
  const int first = vapor_ ? 2 : 1;
  const std::vector<double>& v = grid_.volume;
  const std::vector<double>& d = grid_.diameter;
  out.monomerConcentration = 0.0;
  out.saturationRatio = 0.0;
  out.nucleationRate = 0.0;
  out.criticalDiameter = 0.0;
  if (vapor_) {
    const double N1 = y[0];
    const NucleationState st = vaporState(gas, N1);
    out.monomerConcentration = N1;
    out.saturationRatio = N1 > 0.0 ? st.saturationRatio : 0.0;
    if (out.saturationRatio > 1.0) {
      out.criticalDiameter = st.criticalDiameter;
      if (nucleation_) {
        computeNucleationFractions(v, n, st.criticalVolume, xi_);
        bool placed = false;
        for (int k = 2; k <= n; ++k) placed = placed || xi_[static_cast<std::size_t>(k)] != 0.0;
        if (placed) out.nucleationRate = st.nucleationRate;
      }
    }
  }
  // Totals over the particles. The integrator keeps concentrations non-negative at its
  // steps; values between steps are interpolated and may dip below 0 by less than the
  // absolute tolerance: such a node counts as empty in the figures.
  double number = 0.0;
  double volume = 0.0;
  double diameterSum = 0.0;
  double logSum = 0.0;
  for (int k = first; k <= n; ++k) {
    const double Nk = std::max(y[k - 1], 0.0);
    const auto i = static_cast<std::size_t>(k);
    number += Nk;
    volume += Nk * v[i];
    diameterSum += Nk * d[i];
    logSum += Nk * std::log(d[i]);
  }
  out.totalNumber = number;
  out.particleVolume = volume;
  out.totalVolume = volume + (vapor_ ? std::max(y[0], 0.0) * v[1] : 0.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (number > 0.0) {
    out.meanDiameter = diameterSum / number;
    const double lnMean = logSum / number;
    double spread = 0.0;
    for (int k = first; k <= n; ++k) {
      const double Nk = std::max(y[k - 1], 0.0);
      const double e = std::log(d[static_cast<std::size_t>(k)]) - lnMean;
      spread += Nk * e * e;
    }
    out.geometricStd = std::exp(std::sqrt(spread / number));
  } else {
    out.meanDiameter = nan;
    out.geometricStd = nan;
  }
}

}  // namespace aerosol
