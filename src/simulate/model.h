#pragma once
// The aerosol model of a simulate case as an ODE system y' = f(t, y): y holds the node
// concentrations N_1..N_n (#/m3; node 1 is the vapour monomer when the case has a vapour),
// the temperature and pressure are known functions of time from the case's history. The
// right-hand side is the sum of the enabled mechanisms, each the rate whose Euler update the
// fixed-step processes take, through the same physics operators and step engine.

#include <string>
#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "engine/fast_pass_kernels.h"
#include "growth/growth.h"
#include "nucleation/nucleation.h"
#include "setup/run_settings.h"
#include "simulate/case.h"
#include "simulate/simulation.h"

namespace aerosol {

// Temperature and pressure at one time.
struct GasState {
  double temperature = 0.0;  // K
  double pressure = 0.0;     // atm
};

// The history of a case as a function of time (constant, a cooling rate, or a table
// interpolated linearly and held at its last point).
GasState gasStateAt(const TemperatureHistory& history, double gasPressure, double time);

// The end time of a case: the given time, or the first time the history reaches the end
// temperature. False with `message` when there is none (a history that never gets there).
bool caseEndTime(const SimulationCase& simulationCase, double& endTime, std::string& message);

// The output times: count of them from 0 to endTime, both included. Linear, or
// logarithmic from endTime * kFirstLogarithmicTime.
inline constexpr double kFirstLogarithmicTime = 1e-6;
std::vector<double> outputTimes(const OutputSpec& output, double endTime);

class AerosolModel {
 public:
  // Builds the grid, the split operator and the tables, and prepares the engine. Throws
  // nothing; check ok() and message() for a case whose grid cannot be built.
  explicit AerosolModel(const SimulationCase& simulationCase);

  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }

  int nodeCount() const { return n_; }
  bool hasVapor() const { return vapor_; }
  const NodeGrid& grid() const { return grid_; }
  OutputGrid outputGrid() const;

  // The state at t = 0 (n values).
  std::vector<double> initialState() const;

  // dy/dt at (t, y); false when a rate is not finite (ydot then holds what was computed).
  bool rhs(double time, const double* y, double* ydot);

  // The Jacobian d(dy/dt)/dy at (t, y) into columns[m][k] = d(dy_k/dt)/dy_m (0-based):
  // coagulation's part from its sums' derivatives (the rates are quadratic in N), nucleation's
  // and growth's by difference quotients of their rates alone, which cost O(n) each. False
  // when an entry is not finite.
  bool jacobian(double time, const double* y, double* const* columns);

  // The state at one time with every derived figure (counts left as they are).
  void describe(double time, const double* y, OutputSample& sample);

  GasState gasAt(double time) const;

  // Nucleation places each critical cluster whole on the node just above its volume, so the
  // rate jumps where v* crosses a node volume. The integrator holds the placement of the
  // current stretch of the run (the rate is then smooth for its steps and Jacobians) and
  // finds the crossings as roots. A placement is the node k = 2..n that takes the clusters,
  // kNoSaturation (S <= 1, no nucleation) or n + 1 (v* at or above the top node: none).
  static constexpr int kFollowState = -1;
  static constexpr int kNoSaturation = 0;
  int placementOf(double time, const double* y);
  void holdPlacement(int placement) { held_ = placement; }
  int heldPlacement() const { return held_; }
  // The two root functions of the held placement: a sign change means the state left it.
  static constexpr int kPlacementRoots = 2;
  void placementRoots(double time, const double* y, double* g);
  // The placement beyond the held one when root `which` changed sign in `direction` (+1 up,
  // -1 down): for a state that sits exactly on the boundary.
  int placementAcross(int which, int direction) const;

 private:
  // Saturation state (and, with S > 1, the nucleation rate and critical cluster) at T, P.
  NucleationState vaporState(const GasState& gas, double monomerConcentration);
  // A table of pressures with the Fuchs kernel: the straightforward forms (see fillTables).
  bool straightforward() const;
  // The collision table (or its monomer row) at the gas state, for the rates that follow.
  void fillTables(const GasState& gas);
  // The rates from the tables filled last; coagulation's only with `withCoagulation`.
  bool sumRates(const GasState& gas, const double* y, double* ydot, bool withCoagulation);

  // A gain term of coagulation: chi(i, j, k) of a pair (i, j) with j <= k, as the sums take
  // them (each unordered pair twice).
  struct GainTerm {
    int i, j, k;
    double chi;
  };
  std::vector<GainTerm> gainTerms_;
  double tableTemperature_ = -1.0;
  double tablePressure_ = -1.0;
  std::vector<double> rateBase_, rateStep_, yStep_;

  SimulationCase case_;
  std::string message_;
  int n_ = 0;
  bool vapor_ = false;
  bool depleted_ = false;
  bool nucleation_ = false;
  bool coagulation_ = false;
  bool growth_ = false;
  bool pressureVaries_ = false;  // a table with pressures: the Fuchs gas follows it
  RunSettings settings_{};       // the engine's settings (gas pressure at t = 0)
  RunSettings vaporSettings_{};  // the vapour-pressure law: pressure is its factor
  NodeGrid grid_;
  SplitOperator split_;
  CollisionKernel kernel_;
  FastPassKernels kernels_;
  int held_ = kFollowState;
  MonomerProperties monomer_{};
  std::vector<double> N_, gain_, loss_, xi_, Ks_, growthDiameter_;
  GrowthRates growthRates_;
};

}  // namespace aerosol
