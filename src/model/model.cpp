#include "model/model.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "case/case_checks.h"
#include "common/console.h"
#include "model/coagulation_part.h"
#include "model/dilution_part.h"
#include "model/growth_part.h"
#include "model/nucleation_part.h"
#include "model/precursor_part.h"
#include "model/wall_loss_part.h"

namespace aerosol {
namespace {

// The figures per time that every run writes, in their order after the state's variables.
enum Series {
  kTemperature,
  kPressure,
  kMonomers,
  kSaturation,
  kNucleationRate,
  kCriticalDiameter,
  kTotalNumber,
  kParticleVolume,
  kTotalVolume,
  kMeanDiameter,
  kGeometricStd,
  kSeriesCount
};

const ResultVariable kSeries[kSeriesCount] = {
    {"temperature", "K", "gas temperature", false},
    {"pressure", "atm", "gas pressure", false},
    {"monomer_concentration", "m-3",
     "number concentration of vapour monomers (0 without a vapour)", false},
    {"saturation_ratio", "1", "saturation ratio of the vapour (0 without a vapour)", false},
    {"nucleation_rate", "m-3 s-1", "classical homogeneous nucleation rate", false},
    {"critical_diameter", "m", "diameter of the critical cluster (0 while S <= 1)", false},
    {"total_number", "m-3", "number concentration of particles (vapour node left out)", false},
    {"particle_volume", "m3 m-3", "volume of particles per volume of gas", false},
    {"total_volume", "m3 m-3", "volume of particles and vapour monomers per volume of gas",
     false},
    {"mean_diameter", "m", "number-mean particle diameter (NaN without particles)", false},
    {"geometric_std", "1",
     "geometric standard deviation of the particle number distribution (NaN without particles)",
     false},
};

}  // namespace

AerosolModel::~AerosolModel() = default;

AerosolModel::AerosolModel(const SimulationCase& c) : case_(c) {
  n_ = c.grid.nodeCount;
  if (n_ < kFewestNodes || n_ > kMostNodes) {
    message_ = c.source + ": " + std::to_string(n_) + " nodes; expected " +
               std::to_string(kFewestNodes) + " to " + std::to_string(kMostNodes);
    return;
  }
  const Mechanisms& m = c.mechanisms;
  const bool vapor = m.vapor != VaporMode::None;
  first_ = vapor ? 2 : 1;
  // Nucleation and growth need a vapour.
  const bool nucleation = vapor && m.nucleation;
  const bool growth = vapor && m.growth;
  const bool coagulation = m.coagulation;

  // A precursor that makes particles puts them in node 1, the monomer, as a vapour would.
  const bool monomerGrid =
      vapor || (c.precursor.present && c.precursor.product == PrecursorProduct::Particles);
  GridSpec spec = c.grid;
  if (!(spec.firstVolume > 0.0) && monomerGrid)
    spec.firstVolume = monomerVolume(c.material.molarMass, c.material.density);
  const double v1 = spec.firstVolume;
  const double q = spec.spacing();
  if (!gridVolumesUsable(v1, q, n_)) {
    message_ = c.source + ": a grid of " + std::to_string(n_) + " nodes from " + showNumber(v1) +
               " m3 with spacing factor " + showNumber(q) +
               " has node volumes that are 0 or overflow";
    return;
  }
  const int capacity = tableCapacity(n_);
  grid_ = makeNodeGrid(capacity);
  buildNodeGrid(grid_, v1, q, c.material.density, n_, spec.diameterExponent);

  // The state: the number concentration of every node.
  layout_ = StateLayout(n_);
  layout_.addNodeVariable({"concentration", "m-3",
                           vapor ? "number concentration at the node (node 1: vapour monomers)"
                                 : "number concentration of particles at the node",
                           c.tolerances.absolute});
  // Scalars: the precursor, and the tallies of what dilution and the walls took (volumes in
  // m3 of the condensed species, with the tolerance of the concentrations on node 1's volume).
  const double volumeTolerance = c.tolerances.absolute * v1;
  const int precursor =
      c.precursor.present
          ? layout_.scalar(layout_.addScalar({"precursor_concentration", "m-3",
                                              "number concentration of precursor molecules",
                                              c.tolerances.absolute}))
          : -1;
  auto tally = [&](const char* by, const char* longBy) {
    const int number = layout_.addScalar(
        {std::string("number_lost_to_") + by, "m-3",
         std::string("particles lost to ") + longBy + " since t = 0, per m3 of gas",
         c.tolerances.absolute});
    const int volume = layout_.addScalar(
        {std::string("volume_lost_to_") + by, "m3 m-3",
         std::string("volume of particles, vapour and precursor (as monomers) lost to ") +
             longBy + " since t = 0, per m3 of gas",
         volumeTolerance});
    return std::pair{layout_.scalar(number), layout_.scalar(volume)};
  };
  const ReactorConditions& reactor = c.reactor;
  const auto diluted = reactor.hasDilution() ? tally("dilution", "dilution") : std::pair{-1, -1};
  const auto walls = reactor.hasWalls() ? tally("walls", "the walls") : std::pair{-1, -1};

  if (vapor) vapor_ = std::make_unique<Vapor>(c.material, v1, m.vapor == VaporMode::Depleted);
  if (coagulation) {
    split_ = makeSplitOperator(capacity);
    buildSplitOperator(split_, grid_.volume, n_);
  }
  try {
    if (coagulation || growth) {
      const EngineSetup setup{m.kernel, c.material.density,
                              CarrierGasProperties{c.temperature.at(0.0, c.gas.pressure).pressure,
                                                   c.gas.sutherlandA, c.gas.sutherlandB},
                              first_};
      collisions_ = std::make_unique<Collisions>(
          setup, grid_, coagulation ? &split_ : nullptr, n_,
          coagulation || m.kernel == KernelForm::Fuchs, c.temperature.givesPressure());
    }
  } catch (const std::exception& e) {
    message_ = c.source + ": " + e.what();
    return;
  }

  // The parts, in the order their rates are summed.
  if (nucleation) {
    auto part = std::make_unique<NucleationPart>(layout_, *vapor_, grid_,
                                                 10.0 * c.tolerances.relative);
    nucleation_ = part.get();
    parts_.push_back(std::move(part));
  }
  if (coagulation)
    parts_.push_back(std::make_unique<CoagulationPart>(layout_, *collisions_, split_, first_));
  if (growth) parts_.push_back(std::make_unique<GrowthPart>(layout_, *collisions_, *vapor_, grid_));
  if (precursor >= 0)
    parts_.push_back(std::make_unique<PrecursorPart>(c.precursor, precursor, 0));
  // Dilution and the walls take every node (a held vapour stays as it is); dilution takes
  // the precursor too, counted as one monomer per molecule.
  std::vector<LossTarget> nodes;
  for (int k = m.vapor == VaporMode::Held ? 2 : 1; k <= n_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    nodes.push_back({k - 1, grid_.volume[i], k >= first_, grid_.diameter[i]});
  }
  if (diluted.first >= 0) {
    std::vector<LossTarget> targets = nodes;
    if (precursor >= 0) targets.push_back({precursor, v1, false, grid_.diameter[1]});
    parts_.push_back(std::make_unique<DilutionPart>(reactor.dilution, std::move(targets),
                                                    diluted.first, diluted.second));
  }
  if (walls.first >= 0)
    parts_.push_back(
        std::make_unique<WallLossPart>(reactor, c.gas, nodes, walls.first, walls.second));
  if (reactor.expansion)
    expansion_ = std::make_unique<GasExpansion>(gasAt(0.0), layout_.size());
  for (const auto& part : parts_) rootCount_ += part->rootCount();

  // The results: the state's variables, then the figures per time.
  results_.nodeCount = n_;
  results_.firstParticleNode = first_;
  results_.volume.assign(grid_.volume.begin() + 1, grid_.volume.begin() + 1 + n_);
  results_.diameter.assign(grid_.diameter.begin() + 1, grid_.diameter.begin() + 1 + n_);
  for (const StateVariable& v : layout_.nodeVariables())
    results_.add({v.name, v.units, v.longName, true});
  for (const StateVariable& v : layout_.scalars())
    results_.add({v.name, v.units, v.longName, false});
  for (const ResultVariable& v : kSeries) results_.add(v);
  for (const auto& part : parts_)
    for (const ResultVariable& v : part->results()) results_.add(v);
  if (expansion_)
    results_.add({"gas_density_ratio", "1",
                  "density of the gas relative to the start, (P / P0) (T0 / T)", false});
}

GasState AerosolModel::gasAt(double t) const { return case_.temperature.at(t, case_.gas.pressure); }

const double* AerosolModel::concentrationsAt(const GasState& gas, const double* y) {
  return expansion_ ? expansion_->concentrations(expansion_->ratio(gas), y) : y;
}

ModelPoint AerosolModel::prepare(double t) {
  ModelPoint point{t, gasAt(t)};
  if (collisions_) collisions_->fill(point.gas);
  return point;
}

std::vector<double> AerosolModel::initialState() const {
  std::vector<double> y(static_cast<std::size_t>(layout_.size()), 0.0);
  if (!ok()) return y;
  const InitialState& in = case_.initial;
  const int first = first_;
  const std::vector<double>& v = grid_.volume;
  if (vapor_) {
    if (in.saturationRatio > 0.0) {
      // As the processes start: S0 times the saturation concentration at T0.
      y[0] = in.saturationRatio * vapor_->state(gasAt(0.0), 0.0).saturationConcentration;
    } else {
      y[0] = in.monomerConcentration;
    }
  }
  auto at = [&y](int node) -> double& { return y[static_cast<std::size_t>(node - 1)]; };
  const int precursor = layout_.findScalar("precursor_concentration");
  if (precursor >= 0)
    y[static_cast<std::size_t>(layout_.scalar(precursor))] = case_.precursor.concentration;
  switch (in.particles) {
    case ParticleInit::None:
      break;
    case ParticleInit::SeededNode:
      if (in.seedNode >= first && in.seedNode <= n_) at(in.seedNode) += in.concentration;
      break;
    case ParticleInit::Monodisperse: {
      // Shared between the two bracketing nodes conserving number and volume (all of it in
      // the end node outside the grid).
      const double vp = volumeOfDiameterNm(in.diameter);
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

bool AerosolModel::rhs(double t, const double* y, double* ydot) {
  const ModelPoint point = prepare(t);
  const int size = layout_.size();
  std::fill(ydot, ydot + size, 0.0);
  const double* c = concentrationsAt(point.gas, y);
  for (const auto& part : parts_) part->addRates(point, c, ydot);
  if (expansion_) {
    const double ratio = expansion_->ratio(point.gas);
    for (int k = 0; k < size; ++k) ydot[k] /= ratio;
  }
  bool finite = true;
  for (int k = 0; k < size; ++k) finite = finite && std::isfinite(ydot[k]);
  return finite;
}

bool AerosolModel::jacobian(double t, const double* y, JacobianColumns columns) {
  const ModelPoint point = prepare(t);
  const int size = layout_.size();
  for (int m = 0; m < size; ++m) std::fill(columns[m], columns[m] + size, 0.0);
  // d(f(s z) / s)/dz is the parts' Jacobian at the concentrations s z.
  const double* c = concentrationsAt(point.gas, y);
  for (const auto& part : parts_) part->addJacobian(point, c, columns);
  bool finite = true;
  for (int m = 0; m < size && finite; ++m)
    for (int k = 0; k < size; ++k) finite = finite && std::isfinite(columns[m][k]);
  return finite;
}

void AerosolModel::roots(double t, const double* y, double* g) {
  const ModelPoint point{t, gasAt(t)};
  const double* c = concentrationsAt(point.gas, y);
  for (const auto& part : parts_) {
    part->roots(point, c, g);
    g += part->rootCount();
  }
}

bool AerosolModel::holdBranches(double t, const double* y, const int* found) {
  const ModelPoint point{t, gasAt(t)};
  const double* c = concentrationsAt(point.gas, y);
  bool changed = false;
  for (const auto& part : parts_) {
    changed = part->holdBranch(point, c, found) || changed;
    if (found != nullptr) found += part->rootCount();
  }
  return changed;
}

void AerosolModel::describe(double t, const double* y, OutputSample& out) {
  const int n = n_;
  const GasState gas = gasAt(t);
  y = concentrationsAt(gas, y);
  out.time = t;
  out.values.assign(results_.valueCount(), 0.0);
  // The state's variables as they are.
  std::copy(y, y + layout_.size(), out.values.begin());
  const std::size_t firstSeries = layout_.nodeVariables().size() + layout_.scalars().size();
  double* series = out.values.data() + results_.offset(firstSeries);
  // The parts' own figures follow the series.
  double* partValues = series + kSeriesCount;
  const ModelPoint point = prepare(t);
  for (const auto& part : parts_) {
    part->describe(point, y, partValues);
    for (const ResultVariable& v : part->results()) partValues += v.perNode ? n_ : 1;
  }
  if (expansion_) *partValues = expansion_->ratio(gas);
  series[kTemperature] = gas.temperature;
  series[kPressure] = gas.pressure;
  const std::vector<double>& v = grid_.volume;
  const std::vector<double>& d = grid_.diameter;
  if (vapor_) {
    const double N1 = y[0];
    const NucleationState st = vapor_->state(gas, N1);
    series[kMonomers] = N1;
    series[kSaturation] = N1 > 0.0 ? st.saturationRatio : 0.0;
    if (series[kSaturation] > 1.0) {
      series[kCriticalDiameter] = st.criticalDiameter;
      if (nucleation_ != nullptr) series[kNucleationRate] = nucleation_->rate(point, y);
    }
  }
  // Totals over the particles. The integrator keeps concentrations non-negative at its
  // steps; values between steps are interpolated and may dip below 0 by less than the
  // absolute tolerance: such a node counts as empty in the figures.
  double number = 0.0;
  double volume = 0.0;
  double diameterSum = 0.0;
  double logSum = 0.0;
  for (int k = first_; k <= n; ++k) {
    const double Nk = std::max(y[k - 1], 0.0);
    const auto i = static_cast<std::size_t>(k);
    number += Nk;
    volume += Nk * v[i];
    diameterSum += Nk * d[i];
    logSum += Nk * std::log(d[i]);
  }
  series[kTotalNumber] = number;
  series[kParticleVolume] = volume;
  series[kTotalVolume] = volume + (vapor_ ? std::max(y[0], 0.0) * v[1] : 0.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (number > 0.0) {
    series[kMeanDiameter] = diameterSum / number;
    const double lnMean = logSum / number;
    double spread = 0.0;
    for (int k = first_; k <= n; ++k) {
      const double Nk = std::max(y[k - 1], 0.0);
      const double e = std::log(d[static_cast<std::size_t>(k)]) - lnMean;
      spread += Nk * e * e;
    }
    series[kGeometricStd] = std::exp(std::sqrt(spread / number));
  } else {
    series[kMeanDiameter] = nan;
    series[kGeometricStd] = nan;
  }
}

}  // namespace aerosol
