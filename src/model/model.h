#pragma once
// The aerosol model of a simulate case as an ODE system y' = f(t, y) over a named state (the
// number concentration of every node, node 1 the vapour monomer when the case has a vapour,
// and scalars such as a precursor), with the temperature and pressure known functions of time
// from the case's history. The right-hand side is the sum of the mechanism parts the case
// turns on, each the rate whose Euler update the fixed-step processes take, through the same
// physics operators and step engine. With the gas expansion on, y holds the amounts per m3 of
// gas at the starting density and the parts see concentrations (model/gas_expansion.h).

#include <memory>
#include <string>
#include <vector>

#include "case/case.h"
#include "coagulation/node_grid.h"
#include "model/collisions.h"
#include "model/gas_expansion.h"
#include "model/mechanism.h"
#include "model/state_layout.h"
#include "model/vapor.h"
#include "output/results.h"

namespace aerosol {

class NucleationPart;

// The particle number (m-3) below which the mean diameters and sigma_g are written as missing,
// or the particle nodes' absolute tolerances together when they are more: the population is
// then the integrator's noise (106 nm at 5e-15 m-3 was once written as a mean).
inline constexpr double kFewestForMeans = 1.0;

class AerosolModel {
 public:
  // Builds the grid, the shared tables and the parts. Throws nothing; check ok() and
  // message() for a case whose grid cannot be built.
  explicit AerosolModel(const SimulationCase& simulationCase);
  ~AerosolModel();
  AerosolModel(const AerosolModel&) = delete;
  AerosolModel& operator=(const AerosolModel&) = delete;

  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }

  const StateLayout& layout() const { return layout_; }
  int size() const { return layout_.size(); }
  int nodeCount() const { return n_; }
  int firstParticleNode() const { return first_; }
  bool hasVapor() const { return vapor_ != nullptr; }
  // The concentrations (per m3 of gas now) of the state y at the gas state: y itself without
  // the expansion.
  const double* concentrationsAt(const GasState& gas, const double* y);
  const NodeGrid& grid() const { return grid_; }
  const std::vector<std::unique_ptr<MechanismPart>>& parts() const { return parts_; }

  // The state at t = 0.
  std::vector<double> initialState() const;
  GasState gasAt(double time) const;
  // The point (time and gas) at which the parts are evaluated; fills the shared tables.
  ModelPoint prepare(double time);

  // dy/dt at (t, y); false when a rate is not finite (ydot then holds what was computed).
  bool rhs(double time, const double* y, double* ydot);
  // d(dy/dt)/dy at (t, y) into columns[m][k] = d(dy_k/dt)/dy_m (0-based): the sum of the
  // parts' blocks. False when an entry is not finite.
  bool jacobian(double time, const double* y, JacobianColumns columns);

  // The parts' branches (see MechanismPart): their root functions one after another, the
  // branches taken from the state, and a change of them after a root.
  int rootCount() const { return rootCount_; }
  void roots(double time, const double* y, double* g);
  // True when a part changed its branch; `found` as CVODE's root information, or null.
  bool holdBranches(double time, const double* y, const int* found);

  // What the results hold, and the state at one time with every figure derived from it into
  // a sample of that layout (counts left as they are).
  const ResultsLayout& resultsLayout() const { return results_; }
  void describe(double time, const double* y, OutputSample& sample);

 private:
  SimulationCase case_;
  std::string message_;
  int n_ = 0;
  int first_ = 1;
  StateLayout layout_;
  NodeGrid grid_;
  SplitOperator split_;
  std::unique_ptr<Vapor> vapor_;
  std::unique_ptr<Collisions> collisions_;
  std::unique_ptr<GasExpansion> expansion_;
  std::vector<std::unique_ptr<MechanismPart>> parts_;
  NucleationPart* nucleation_ = nullptr;
  int areaId_ = -1;  // the layout's surface area of aggregates, or -1 for spheres
  // Primary, primaries per particle and collision diameter per node, the Sauter primary and
  // mean collision diameters, into `out`.
  void describeAggregates(const double* y, double* out) const;
  int rootCount_ = 0;
  ResultsLayout results_;
  double log10Spacing_ = 0.0;   // log10 d(k+1) / d(k)
  double fewestForMeans_ = 0.0;  // m-3: fewer particles have no mean diameter or sigma_g
};

}  // namespace aerosol
