#include "model/model.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "case/case_checks.h"
#include "case/initial_particles.h"
#include "common/console.h"
#include "properties/constants.h"
#include "model/aggregate_coagulation_part.h"
#include "model/coagulation_part.h"
#include "model/dilution_part.h"
#include "model/growth_part.h"
#include "model/nucleation_part.h"
#include "model/sintering_part.h"
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
  kVolumeMeanDiameter,
  kGeometricStd,
  kSeriesCount
};

// The means of a population are missing (NaN) where its number is below the larger of
// 1 m-3 and the integrator's noise, the absolute tolerance on each particle node.
const ResultVariable kSeries[kSeriesCount] = {
    {"temperature", "K", "gas temperature", false, "air_temperature"},
    {"pressure", "Pa", "gas pressure", false, "air_pressure"},
    {"monomer_concentration", "m-3",
     "number concentration of vapour monomers (0 without a vapour)", false},
    {"saturation_ratio", "1", "saturation ratio of the vapour (0 without a vapour)", false},
    {"nucleation_rate", "m-3 s-1", "classical homogeneous nucleation rate", false},
    {"critical_diameter", "m", "diameter of the critical cluster (0 while S <= 1)", false},
    {"total_number", "m-3", "number concentration of particles (vapour node left out)", false},
    {"particle_volume", "m3 m-3", "volume of particles per volume of gas", false},
    {"total_volume", "m3 m-3", "volume of particles and vapour monomers per volume of gas",
     false},
    {"mean_diameter", "m",
     "number-mean particle diameter, sum N_k d_k / N (missing while the particles are too few)",
     false, "", true},
    {"volume_mean_diameter", "m",
     "volume-mean particle diameter, the diameter of the mean particle volume (6 V / (pi N))^(1/3) "
     "(missing while the particles are too few)",
     false, "", true},
    {"geometric_std", "1",
     "geometric standard deviation of the particle number distribution (missing while the "
     "particles are too few)",
     false, "", true},
};

// The size distribution per node, after the series.
const ResultVariable kSizeDistribution = {
    "dN_dlog10dp", "m-3",
    "number size distribution dN/dlog10(d): the node's concentration over the node spacing in "
    "log10 of the diameter (missing at the vapour node)",
    true, "", true};

// The figures of aggregates, after the size distribution (per node, then per time).
const ResultVariable kAggregateFigures[] = {
    {"primary_diameter", "m", "diameter of the primary particles, 6 v N / A (missing where empty)",
     true, "", true},
    {"primaries_per_particle", "1", "primary particles per aggregate (missing where empty)", true,
     "", true},
    {"collision_diameter", "m", "collision diameter of the aggregates (missing where empty)", true,
     "", true},
    {"sauter_primary_diameter", "m",
     "6 V / A of all particles: the primary size that gas adsorption measures", false, "", true},
    {"mean_collision_diameter", "m", "number-mean collision diameter of the particles", false, "",
     true},
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
  GridSpec gridSpec = c.grid;
  if (!(gridSpec.firstVolume > 0.0) && monomerGrid)
    gridSpec.firstVolume = monomerVolume(c.material.molarMass, c.material.density);
  const double v1 = gridSpec.firstVolume;
  const double q = gridSpec.spacing();
  if (!gridVolumesUsable(v1, q, n_)) {
    message_ = c.source + ": a grid of " + std::to_string(n_) + " nodes from " + showNumber(v1) +
               " m3 with spacing factor " + showNumber(q) +
               " has node volumes that are 0 or overflow";
    return;
  }
  const int capacity = tableCapacity(n_);
  grid_ = makeNodeGrid(capacity);
  buildNodeGrid(grid_, v1, q, c.material.density, n_, gridSpec.diameterExponent);

  // The state: the number concentration of every node.
  layout_ = StateLayout(n_);
  layout_.addNodeVariable({"concentration", "m-3",
                           vapor ? "number concentration at the node (node 1: vapour monomers)"
                                 : "number concentration of particles at the node",
                           c.tolerances.absolute});
  // Aggregates: the surface area of every node's particles, to the tolerance of as many
  // particles of the smallest. Instant sintering makes it a sphere's area times the number,
  // which no rate reads: held >= 0 too, the rounding of that sum in nodes that empty would
  // stop the run (a constraint that no step size can meet).
  if (c.aggregates)
    areaId_ = layout_.addNodeVariable(
        {"surface_area", "m2 m-3", "surface area of the node's particles per volume of gas",
         c.tolerances.absolute * sphereArea(grid_.volume[static_cast<std::size_t>(first_)]),
         c.aggregates->sintering.form != SinteringForm::Instant});
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
      CollisionModel collision;
      collision.form = m.kernel;
      collision.density = c.material.density;
      collision.gas = c.gas;
      collision.gas.pressure = c.temperature.at(0.0, c.gas.pressure).pressure;
      collision.constantKernel = m.constantKernel;
      collision.additiveKernel = m.additiveKernel;
      const EngineSetup setup{collision, first_};
      // The whole table serves the coagulation of spheres, aggregates by the free-molecular
      // kernel (scaled from it) and Fuchs' growth (its monomer row); aggregates by Fuchs
      // form their own kernel.
      const bool fuchs = m.kernel == KernelForm::Fuchs;
      const bool wholeTable =
          (coagulation && !(c.aggregates && fuchs)) || (fuchs && growth);
      collisions_ = std::make_unique<Collisions>(setup, grid_, coagulation ? &split_ : nullptr,
                                                 n_, wholeTable, c.temperature.givesPressure());
    }
  } catch (const std::exception& e) {
    message_ = c.source + ": " + e.what();
    return;
  }

  // The parts, in the order their rates are summed.
  if (nucleation) {
    auto part = std::make_unique<NucleationPart>(layout_, *vapor_, grid_,
                                                 10.0 * c.tolerances.relative, areaId_);
    nucleation_ = part.get();
    parts_.push_back(std::move(part));
  }
  if (coagulation && c.aggregates)
    parts_.push_back(std::make_unique<AggregateCoagulationPart>(
        layout_, areaId_, *collisions_, split_, grid_, first_, *c.aggregates, c.gas));
  else if (coagulation)
    parts_.push_back(std::make_unique<CoagulationPart>(layout_, *collisions_, split_, first_));
  if (growth)
    parts_.push_back(
        std::make_unique<GrowthPart>(layout_, *collisions_, *vapor_, grid_, areaId_));
  if (precursor >= 0)
    parts_.push_back(std::make_unique<PrecursorPart>(
        c.precursor, precursor, 0, areaId_ >= 0 && first_ == 1 ? layout_.at(areaId_, 1) : -1,
        sphereArea(grid_.volume[1])));
  // Dilution and the walls take every node (a held vapour stays as it is), and the aggregates'
  // area with their particles; dilution takes the precursor too, counted as one monomer per
  // molecule.
  std::vector<LossTarget> nodes;
  for (int k = m.vapor == VaporMode::Held ? 2 : 1; k <= n_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    nodes.push_back({k - 1, grid_.volume[i], k >= first_, grid_.diameter[i]});
    if (areaId_ >= 0 && k >= first_)
      nodes.push_back({layout_.at(areaId_, k), 0.0, false, grid_.diameter[i]});
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
  // Last: instant sintering replaces the area rates of the parts before it.
  if (c.aggregates && c.aggregates->sintering.form != SinteringForm::None)
    parts_.push_back(std::make_unique<SinteringPart>(layout_, areaId_, grid_, first_,
                                                     c.aggregates->sintering));
  if (reactor.expansion)
    expansion_ = std::make_unique<GasExpansion>(gasAt(0.0), layout_.size());
  for (const auto& part : parts_) rootCount_ += part->rootCount();

  // The results: the state's variables, then the figures per time.
  results_.nodeCount = n_;
  results_.firstParticleNode = first_;
  if (vapor) results_.node.longName = "node number (node 1 holds the vapour monomers)";
  results_.addNodeCoordinate(
      {"volume", "m3", "volume of a particle (or monomer) at the node"},
      std::vector<double>(grid_.volume.begin() + 1, grid_.volume.begin() + 1 + n_));
  results_.addNodeCoordinate(
      {"diameter", "m", "diameter of a particle (or monomer) at the node"},
      std::vector<double>(grid_.diameter.begin() + 1, grid_.diameter.begin() + 1 + n_));
  for (const StateVariable& v : layout_.nodeVariables())
    results_.add({v.name, v.units, v.longName, true});
  for (const StateVariable& v : layout_.scalars())
    results_.add({v.name, v.units, v.longName, false});
  for (const ResultVariable& v : kSeries) results_.add(v);
  results_.add(kSizeDistribution);
  // Node diameters are (6 v / pi)^e on a geometric grid: each node spans e log10 q.
  log10Spacing_ = gridSpec.diameterExponent * std::log10(q);
  fewestForMeans_ = std::max(kFewestForMeans, (n_ - first_ + 1) * c.tolerances.absolute);
  if (c.aggregates)
    for (const ResultVariable& v : kAggregateFigures) results_.add(v);
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
  if (vapor_) {
    if (in.saturationRatio > 0.0) {
      // As the processes start: S0 times the saturation concentration at T0.
      y[0] = in.saturationRatio * vapor_->state(gasAt(0.0), 0.0).saturationConcentration;
    } else {
      y[0] = in.monomerConcentration;
    }
  }
  const int precursor = layout_.findScalar("precursor_concentration");
  if (precursor >= 0)
    y[static_cast<std::size_t>(layout_.scalar(precursor))] = case_.precursor.concentration;
  // Particles between nodes are shared keeping number and volume (case/initial_particles.h).
  const ParticlePlacement placed = placeInitialParticles(in, grid_.volume, first_, n_);
  for (int k = first_; k <= n_; ++k)
    y[static_cast<std::size_t>(k - 1)] += placed.number[static_cast<std::size_t>(k - 1)];
  if (areaId_ >= 0) {
    // Spheres, or aggregates of primaries of the given size where the particle is larger.
    const double dp = in.primaryDiameter * 1e-9;
    for (int k = first_; k <= n_; ++k) {
      const double vk = grid_.volume[static_cast<std::size_t>(k)];
      const double aggregate = dp > 0.0 ? 6.0 * vk / dp : 0.0;
      y[static_cast<std::size_t>(layout_.at(areaId_, k))] =
          y[static_cast<std::size_t>(k - 1)] * std::max(sphereArea(vk), aggregate);
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

void AerosolModel::describeAggregates(const double* y, double* out) const {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  double* primary = out;
  double* primaries = out + n_;
  double* collision = out + 2 * n_;
  double volume = 0.0, area = 0.0, number = 0.0, collisionSum = 0.0;
  for (int k = 1; k <= n_; ++k) {
    const double N = std::max(y[k - 1], 0.0);
    const double A = std::max(y[layout_.at(areaId_, k)], 0.0);
    const double vk = grid_.volume[static_cast<std::size_t>(k)];
    if (k < first_ || !(N > 0.0 && A > 0.0)) {
      primary[k - 1] = primaries[k - 1] = collision[k - 1] = nan;
      continue;
    }
    const AggregateShape shape =
        aggregateShape(vk, A / N, *case_.aggregates, 1e-3 * std::cbrt(6.0 * grid_.volume[1] / kPi));
    primary[k - 1] = shape.primaryDiameter;
    primaries[k - 1] = shape.primaries;
    collision[k - 1] = shape.collisionDiameter;
    volume += N * vk;
    area += A;
    number += N;
    collisionSum += N * shape.collisionDiameter;
  }
  out[3 * n_] = area > 0.0 ? 6.0 * volume / area : nan;
  out[3 * n_ + 1] = number > 0.0 ? collisionSum / number : nan;
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
  // The size distribution follows the series, the aggregates' figures follow it, and the
  // parts' own figures follow those.
  double* distribution = series + kSeriesCount;
  double* partValues = distribution + n_;
  if (areaId_ >= 0) {
    describeAggregates(y, partValues);
    partValues += 3 * n_ + 2;
  }
  const ModelPoint point = prepare(t);
  for (const auto& part : parts_) {
    part->describe(point, y, partValues);
    for (const ResultVariable& v : part->results()) partValues += v.perNode ? n_ : 1;
  }
  if (expansion_) *partValues = expansion_->ratio(gas);
  series[kTemperature] = gas.temperature;
  series[kPressure] = gas.pressure * kPascalPerAtm;
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
  for (int k = 1; k <= n; ++k)
    distribution[k - 1] = k < first_ ? nan : std::max(y[k - 1], 0.0) / log10Spacing_;
  if (number >= fewestForMeans_ && number > 0.0) {
    series[kMeanDiameter] = diameterSum / number;
    series[kVolumeMeanDiameter] = std::cbrt(6.0 * (volume / number) / kPi);
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
    series[kVolumeMeanDiameter] = nan;
    series[kGeometricStd] = nan;
  }
}

}  // namespace aerosol
