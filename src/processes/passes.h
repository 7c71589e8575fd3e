#pragma once
// The state of each process's run and the computation of one time step, apart from the
// printing that the drivers do between the two halves of a step. The drivers, the
// benchmarks and the tests all step a run through these.

#include <vector>

#include "coagulation/collision_kernel.h"
#include "coagulation/node_grid.h"
#include "engine/pass_kernels.h"
#include "growth/growth.h"
#include "nucleation/nucleation.h"
#include "processes/run_settings.h"

namespace aerosol {

// Process 1: a monodisperse seed of diameter d0 (nm) and concentration N0 (#/m3) at a
// constant temperature.
struct CoagulationRun {
  CoagulationRun(const RunSettings& settings, double initialDiameter,
                 double initialConcentration, PassKernels& kernels);
  // A copy would share the kernels' caches, which follow one run's state.
  CoagulationRun(const CoagulationRun&) = delete;
  CoagulationRun& operator=(const CoagulationRun&) = delete;
  // One step: rates from the current concentrations, the Euler update with the current dt,
  // then the next dt and the totals of the new state.
  void step();

  RunSettings settings;
  PassKernels& kernels;
  int n;
  double temperature;
  NodeGrid grid;
  SplitOperator split;
  CollisionKernel kernel;
  std::vector<double> N, gain, loss;
  double t = 0.0;
  double dt = 1e-8;
  double totalConcentration = 0.0;  // Ninf after the step
  double totalVolume = 0.0;         // V after the step
};

// Processes 2 and 3: a cooling vapour that nucleates and coagulates, and with `growth`
// also condenses on and evaporates from the particles.
struct NucleationRun {
  NucleationRun(const RunSettings& settings, bool growth, PassKernels& kernels);
  // A copy would share the kernels' caches, which follow one run's state.
  NucleationRun(const NucleationRun&) = delete;
  NucleationRun& operator=(const NucleationRun&) = delete;
  // First half of a pass: nucleation state and totals of the current state, time step.
  void beginPass();
  // Second half: rates from the start-of-pass state, Euler update, monomers, cooling, time.
  void finishPass();

  RunSettings settings;
  bool withGrowth;
  PassKernels& kernels;
  int n;
  NodeGrid grid;
  SplitOperator split;
  CollisionKernel kernel;
  std::vector<double> N, gain, loss, xi, Ks;
  GrowthRates growth;
  MaterialProperties material;
  MonomerProperties monomer;
  NucleationState state;
  double T;
  double t = 0.0;
  double dt;
  // Totals of the current pass (process 2 names: V and the total volume with monomers).
  double totalNumber = 0.0;
  double particleVolume = 0.0;
  double totalVolume = 0.0;
  double volumeMeanDiameter = 0.0;  // diameter of the mean particle volume, m (printed)
};

// Process 4: a seeded node growing or evaporating in a vapour held at its starting
// concentration.
struct SeededGrowthRun {
  SeededGrowthRun(const RunSettings& settings, int seedNode, double seedConcentration,
                  PassKernels& kernels);
  // A copy would share the kernels' caches, which follow one run's state.
  SeededGrowthRun(const SeededGrowthRun&) = delete;
  SeededGrowthRun& operator=(const SeededGrowthRun&) = delete;
  void beginStep();   // saturation state at the current temperature
  void finishStep();  // growth rates, Euler update, cooling, time

  RunSettings settings;
  PassKernels& kernels;
  int n;
  NodeGrid grid;
  CollisionKernel kernel;
  std::vector<double> N, Ks;
  GrowthRates growth;
  MaterialProperties material;
  NucleationState state;
  double T;
  double t = 0.0;
  double dt = 1e-08;
};

}  // namespace aerosol
