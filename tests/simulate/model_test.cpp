// The simulate model and integrator: the right-hand side against the fixed-step processes'
// Euler increments at the same state, volume conservation, the Jacobian against difference
// quotients of the right-hand side, and whole runs checked against physics and against the
// ways a run can end.

#include <gtest/gtest.h>
#include <sundials/sundials_context.hpp>
#include <sunmatrix/sunmatrix_dense.h>
#include <nvector/nvector_serial.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "engine/fast_pass_kernels.h"
#include "integrator/lapack_dense.h"
#include "integrator/simulation.h"
#include "model/aggregate_coagulation_part.h"
#include "model/model.h"
#include "nucleation/nucleation.h"
#include "processes/passes.h"
#include "support/closed_forms.h"
#include "support/example_case.h"
#include "support/example_material.h"

namespace aerosol {
namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// Particles on every node from 2 (or 1) up, a broad hump, so that every gain and loss
// term and both growth directions take part.
void fillParticles(std::vector<double>& N, int first, int n, double peak) {
  for (int k = first; k <= n; ++k) {
    const double x = (k - 0.5 * (first + n)) / (0.3 * n);
    N[static_cast<std::size_t>(k)] = peak * std::exp(-x * x) + 1e3 * k;
  }
}

// The model's rates of nodes 1..n against (N_new - N_old)/dt of one Euler step; `adjust`
// is added to the step's monomer rate. Rounding of the update bounds the difference.
void expectRatesMatch(const std::vector<double>& before, const std::vector<double>& after,
                      double dt, const std::vector<double>& rates, int first, int n,
                      double adjustMonomer, bool checkMonomer) {
  for (int k = first; k <= n; ++k) {
    if (k == 1 && !checkMonomer) continue;
    const auto i = static_cast<std::size_t>(k);
    const double euler = (after[i] - before[i]) / dt + (k == 1 ? adjustMonomer : 0.0);
    const double bound = 4.0 * kEps * (std::fabs(before[i]) + std::fabs(after[i])) / dt +
                         1e-12 * std::fabs(euler);
    EXPECT_NEAR(rates[i - 1], euler, bound) << "node " << k;
  }
}

std::vector<double> stateOf(const std::vector<double>& N, int n) {
  return std::vector<double>(N.begin() + 1, N.begin() + 1 + n);
}

// The model's rates at the state N (N[k] on node k) at time t, into f (resized to the node
// count, so entries given beforehand stay where the model leaves them); false when a rate
// is not finite.
bool ratesAt(AerosolModel& model, double t, const std::vector<double>& N, std::vector<double>& f) {
  const std::vector<double> y = stateOf(N, model.nodeCount());
  f.resize(y.size());
  return model.rhs(t, y.data(), f.data());
}

// Saturation concentration (m-3) of the settings' vapour at temperature T.
double saturationAt(const RunSettings& s, double T) {
  NucleationState sat;
  computeSaturation(materialOf(s), s.pressure, T, sat);
  return sat.saturationConcentration;
}

// Volume of all nodes (the vapour's too), sum of v_k dN_k/dt, against the volume the terms move.
void volumeBalance(const AerosolModel& model, const std::vector<double>& f, double& net,
                   double& moved) {
  net = 0.0;
  moved = 0.0;
  for (int k = 1; k <= model.nodeCount(); ++k) {
    const double term = model.grid().volume[static_cast<std::size_t>(k)] * f[k - 1];
    net += term;
    moved += std::fabs(term);
  }
}

// The example's material at a constant temperature on `nodes` nodes with no mechanism on:
// each check turns on the part it holds against a closed form.
SimulationCase partCase(int nodes, double T, VaporMode vapor) {
  SimulationCase c = legacyCaseOf(exampleMaterial(nodes, 3, 1), 3);
  c.mechanisms = Mechanisms{};
  c.mechanisms.vapor = vapor;
  c.temperature.law = TemperatureLaw::Constant;
  c.temperature.start = T;
  return c;
}

TEST(SimulateParts, NucleationTakesTheClassicalRateOfCriticalClusters) {
  // Vapour alone at 1500 K: clusters form at the classical rate, written with the critical
  // droplet of the Kelvin diameter d* = 4 sigma v1 / (k T ln S) (the barrier a third of its
  // surface energy), arrive with that droplet's volume and take k* = pi d*^3 / (6 v1)
  // monomers each from the vapour. k = 1.38e-23 as in the published worked example.
  const double T = 1500.0, k = 1.38e-23;
  SimulationCase c = partCase(26, T, VaporMode::Depleted);
  c.mechanisms.nucleation = true;
  AerosolModel model(c);
  ASSERT_TRUE(model.ok()) << model.message();
  const MaterialProperties& m = c.material;
  const std::vector<double>& v = model.grid().volume;
  const double sigma = (m.surfaceTensionA - m.surfaceTensionB * T) * 1e-3;
  const double ns = std::exp(m.vaporPressureC - m.vaporPressureD / T) * 101325.0 / (k * T);
  for (double S : {3.0, 5.0, 20.0}) {
    SCOPED_TRACE(S);
    std::vector<double> N(28, 0.0), f;
    N[1] = S * ns;
    ASSERT_TRUE(ratesAt(model, 0.0, N, f));
    const double dStar = 4.0 * sigma * v[1] / (k * T * std::log(S));
    const double theta = std::pow(36.0 * M_PI * v[1] * v[1], 1.0 / 3.0) * sigma / (k * T);
    const double J = ns * ns * S * v[1] * std::sqrt(2.0 * sigma / (M_PI * m.density * v[1])) *
                     std::exp(theta - sigma * M_PI * dStar * dStar / (3.0 * k * T));
    const double cluster = M_PI / 6.0 * dStar * dStar * dStar;
    double volume = 0.0;
    for (int node = 2; node <= 26; ++node)
      volume += v[static_cast<std::size_t>(node)] * f[node - 1];
    EXPECT_NEAR(volume / (J * cluster), 1.0, 1e-5);
    EXPECT_NEAR(f[0] / (-J * cluster / v[1]), 1.0, 1e-5);
  }
}

TEST(SimulateParts, GrowthIsKineticCondensationOverTheKelvinConcentration) {
  // Particles of one node j in the vapour at 1500 K: they take up c = beta (N1 - Ks) N_j
  // monomers per second (give them off when negative), beta of kinetic theory and Ks of the
  // Kelvin equation, and move the particles that hold those monomers' volume to the
  // neighbouring node; a depleted vapour loses what they take. Out of node 2 they leave the
  // grid and return their whole volume to the vapour. Exact constants: the stored decimals
  // and the ns of k = 1.38e-23 make up to 1e-3.
  const double T = 1500.0;
  struct Row {
    VaporMode vapor;
    double S;
    int node;  // Kelvin exponent 4 sigma v_m / (k T d): 4 at node 2, 0.9 at node 6
  };
  for (const Row& row : {Row{VaporMode::Depleted, 6.0, 6}, Row{VaporMode::Held, 6.0, 6},
                         Row{VaporMode::Depleted, 0.8, 6}, Row{VaporMode::Depleted, 5.0, 2}}) {
    SCOPED_TRACE(::testing::Message() << "S " << row.S << ", node " << row.node);
    SimulationCase c = partCase(26, T, row.vapor);
    c.mechanisms.growth = true;
    AerosolModel model(c);
    ASSERT_TRUE(model.ok()) << model.message();
    const MaterialProperties& m = c.material;
    const std::vector<double>& v = model.grid().volume;
    const double sigma = (m.surfaceTensionA - m.surfaceTensionB * T) * 1e-3;
    const double ns =
        std::exp(m.vaporPressureC - m.vaporPressureD / T) * 101325.0 / (closed::kBoltzmann * T);
    const int j = row.node;
    std::vector<double> N(28, 0.0), f, expected(26, 0.0);
    N[1] = row.S * ns;
    N[static_cast<std::size_t>(j)] = 1e14;
    ASSERT_TRUE(ratesAt(model, 0.0, N, f));
    const double Ks = closed::kelvinConcentration(ns, sigma, m.molarMass, m.density, T,
                                                  closed::sphereDiameter(v[j]));
    const double c1 =
        closed::freeMolecularKernel(T, m.density, v[1], v[j]) * (N[1] - Ks) * N[j];
    ASSERT_GT(std::fabs(N[1] - Ks), 0.5 * Ks);
    const int to = c1 > 0.0 ? j + 1 : j - 1;
    const double moved = std::fabs(c1) * v[1] / std::fabs(v[to] - v[j]);
    expected[j - 1] = -moved;
    if (to >= 2) expected[to - 1] = moved;
    if (row.vapor == VaporMode::Depleted) expected[0] = to >= 2 ? -c1 : moved * v[j] / v[1];
    for (int k = 0; k < 26; ++k)
      EXPECT_NEAR(f[k], expected[k], 3e-3 * std::fabs(expected[k])) << "node " << k + 1;
    // What the particles gain the vapour loses, and the reverse.
    double net = 0.0, gross = 0.0;
    volumeBalance(model, f, net, gross);
    if (row.vapor == VaporMode::Depleted) {
      EXPECT_LT(std::fabs(net), 1e-14 * gross);  // measured 1e-16
    }
  }
}

TEST(SimulateParts, CoagulationKernelsMeetKineticTheoryAndTheContinuum) {
  // One node's particles alone (on a grid of spacing 2, so that a pair lands whole on the
  // next node): the number falls at beta N^2 / 2, beta of kinetic theory in the free
  // molecular form and in Fuchs' at 1e-3 atm (Knudsen numbers of 1e4), and the continuum's
  // 8kT/(3 mu) in Fuchs' at 100 atm for 12 um particles (Kn 1e-4: slip and transition make a
  // few tenths of a percent).
  struct Row {
    KernelForm form;
    double pressure;  // atm
    double diameter;  // nm, of node 3
    bool continuum;
    double tolerance;
  };
  const double T = 300.0;
  for (const Row& row : {Row{KernelForm::FreeMolecular, 1.0, 2.0, false, 1e-3},
                         Row{KernelForm::Fuchs, 1e-3, 2.0, false, 1e-3},
                         Row{KernelForm::Fuchs, 100.0, 12000.0, true, 1e-2}}) {
    SCOPED_TRACE(row.diameter);
    SimulationCase c = partCase(12, T, VaporMode::None);
    c.mechanisms.coagulation = true;
    c.mechanisms.kernel = row.form;
    c.gas.pressure = row.pressure;
    c.grid.spacingFactor = 2.0;
    c.grid.firstVolume = volumeOfDiameterNm(row.diameter) / 4.0;
    AerosolModel model(c);
    ASSERT_TRUE(model.ok()) << model.message();
    const double v3 = model.grid().volume[3];
    std::vector<double> N(14, 0.0), f;
    N[3] = 1e12;
    ASSERT_TRUE(ratesAt(model, 0.0, N, f));
    double total = 0.0;
    for (double rate : f) total += rate;
    const double mu = std::pow(T, 1.5) * c.gas.sutherlandA / (c.gas.sutherlandB + T);
    const double beta = row.continuum ? closed::continuumEqualKernel(T, mu)
                                      : closed::freeMolecularKernel(T, c.material.density, v3, v3);
    EXPECT_NEAR(total / (-0.5 * beta * N[3] * N[3]), 1.0, row.tolerance);
  }
}

TEST(SimulateModelRates, NucleationGrowthMatchesProcessThreeStep) {
  for (int form : {1, 2}) {
    SCOPED_TRACE(form == 1 ? "free molecular" : "Fuchs");
    RunSettings s = exampleMaterial(12, 3, form);
    FastPassKernels kernels;
    NucleationRun run(s, true, kernels);
    // S = 3 at 1500 K: node 2 evaporates (Kelvin), the larger nodes grow.
    run.N[1] = 3.0 * saturationAt(s, run.T);
    fillParticles(run.N, 2, run.n, 1e14);
    run.beginPass();
    ASSERT_EQ(run.dt, 1e-05);  // growth on
    const std::vector<double> before = run.N;
    run.finishPass();

    AerosolModel model(legacyCaseOf(s, 3));
    ASSERT_TRUE(model.ok()) << model.message();
    std::vector<double> f;
    ASSERT_TRUE(ratesAt(model, 0.0, before, f));
    // Particles that evaporate out of node 2 return v2/v1 monomers each: node 2's growth loss
    // more than the process's one per unit of flux.
    ASSERT_GT(run.Ks[2], before[1]);
    const double returned = run.growth.growthLoss[2];
    ASSERT_GT(returned, 0.0);
    expectRatesMatch(before, run.N, run.dt, f, 1, run.n, returned, true);
  }
}

TEST(SimulateModelRates, NucleationCoagulationMatchesProcessTwoStep) {
  RunSettings s = exampleMaterial(16, 2, 1);
  FastPassKernels kernels;
  NucleationRun run(s, false, kernels);
  // S = 10 at 1500 K: a strong burst, clusters placed on a node above node 2.
  run.N[1] = 10.0 * saturationAt(s, run.T);
  fillParticles(run.N, 2, run.n, 1e16);
  run.beginPass();
  ASSERT_GT(run.state.nucleationRate, 1e15);
  const std::vector<double> before = run.N;
  run.finishPass();

  AerosolModel model(legacyCaseOf(s, 2));
  std::vector<double> f;
  ASSERT_TRUE(ratesAt(model, 0.0, before, f));
  expectRatesMatch(before, run.N, run.dt, f, 1, run.n, 0.0, true);
}

TEST(SimulateModelRates, HeldVapourGrowthMatchesProcessFourStep) {
  RunSettings s = exampleMaterial(14, 4, 1);
  FastPassKernels kernels;
  SeededGrowthRun run(s, 5, 1e12, kernels);
  run.N[1] = 2.0 * saturationAt(s, run.T);
  fillParticles(run.N, 2, run.n, 1e12);
  run.beginStep();
  const std::vector<double> before = run.N;
  run.finishStep();

  AerosolModel model(legacyCaseOf(s, 4));
  std::vector<double> f(static_cast<std::size_t>(run.n), 1.0);
  ASSERT_TRUE(ratesAt(model, 0.0, before, f));
  expectRatesMatch(before, run.N, run.dt, f, 2, run.n, 0.0, false);
  EXPECT_EQ(f[0], 0.0);  // the vapour is held
}

TEST(SimulateModelRates, CoagulationMatchesProcessOneStepAndKeepsParticleVolume) {
  for (int form : {1, 2}) {
    SCOPED_TRACE(form == 1 ? "free molecular" : "Fuchs");
    RunSettings s = exampleMaterial(20, 1, form);
    s.startTemperature = 300.0;
    FastPassKernels kernels;
    CoagulationRun run(s, 1.0, 1e18, kernels);
    fillParticles(run.N, 1, run.n, 1e17);
    const std::vector<double> before = run.N;
    const double dt = run.dt;
    run.step();

    SimulationCase c = legacyCaseOf(s, 1);
    c.mechanisms = Mechanisms{};
    c.mechanisms.coagulation = true;
    c.mechanisms.kernel = form == 2 ? KernelForm::Fuchs : KernelForm::FreeMolecular;
    c.grid.firstVolume = volumeOfDiameterNm(1.0);
    c.grid.diameterExponent = kThirdSeven;
    c.temperature.law = TemperatureLaw::Constant;
    c.temperature.start = 300.0;
    AerosolModel model(c);
    std::vector<double> f;
    ASSERT_TRUE(ratesAt(model, 0.0, before, f));
    expectRatesMatch(before, run.N, dt, f, 1, run.n, 0.0, true);

    // Coagulation moves volume between nodes and never makes or destroys it.
    double net = 0.0;
    double moved = 0.0;
    volumeBalance(model, f, net, moved);
    EXPECT_LT(std::fabs(net), 2e-9 * moved);  // measured 2.5e-11
  }
}

TEST(SimulateModelRates, PressureTableDrivesTheFuchsKernel) {
  // A history table with pressures drives the engine's gas pressure: at 1 atm throughout it
  // gives the rates of a constant 1 atm; falling from 0.8 atm, those of a constant pressure
  // at its value then, where the Fuchs kernel (mean free path) and the vapour-pressure law
  // (times P) differ.
  RunSettings s = exampleMaterial(16, 3, 2);
  auto withTable = [&](double pressure) {
    SimulationCase c = legacyCaseOf(s, 3);
    c.temperature.law = TemperatureLaw::Table;
    c.temperature.table = {{0.0, 1500.0, pressure}, {1.0, 500.0, pressure}};
    return c;
  };
  const double t = 0.3;  // 1200 K
  AerosolModel engine(withTable(0.0));  // no pressures: the engine, prepared at 1 atm
  AerosolModel atOne(withTable(1.0));
  SimulationCase falling = withTable(0.0);
  falling.temperature.table = {{0.0, 1500.0, 0.8}, {1.0, 500.0, 0.3}};
  AerosolModel atHalf(falling);  // about 0.65 atm at t, prepared at 0.8
  s.pressure = atHalf.gasAt(t).pressure;
  AerosolModel constantHalf(withTable(0.0));
  std::vector<double> N(static_cast<std::size_t>(s.nodeCount + 2), 0.0);
  N[1] = 20.0 * saturationAt(s, 1200.0);
  fillParticles(N, 2, s.nodeCount, 1e16);
  const std::vector<double> y = stateOf(N, s.nodeCount);
  std::vector<double> fEngine(y.size()), fOne(y.size()), fHalf(y.size()), fConstant(y.size());
  ASSERT_TRUE(engine.rhs(t, y.data(), fEngine.data()));
  ASSERT_TRUE(atOne.rhs(t, y.data(), fOne.data()));
  ASSERT_TRUE(atHalf.rhs(t, y.data(), fHalf.data()));
  ASSERT_TRUE(constantHalf.rhs(t, y.data(), fConstant.data()));
  EXPECT_EQ(atOne.gasAt(t).pressure, 1.0);
  EXPECT_NEAR(atHalf.gasAt(t).pressure, 0.65, 1e-12);
  for (std::size_t k = 0; k < y.size(); ++k) {
    EXPECT_EQ(fOne[k], fEngine[k]) << "node " << k + 1;
    EXPECT_EQ(fHalf[k], fConstant[k]) << "node " << k + 1;
    EXPECT_GT(std::fabs(fHalf[k] - fEngine[k]), 1e-3 * std::fabs(fEngine[k])) << "node " << k + 1;
  }
}

TEST(SimulateModelStart, ParticlesOnACoarseGridKeepTheirNumberAndVolume) {
  // Without a vapour, node 1 at 1 nm; the grid holds each distribution to far below 1e-9.
  struct Row {
    double spacing;
    int nodes;
    ParticleInit kind;
    double diameter;  // nm, geometric mean for a lognormal
    double sigma;
  };
  const Row rows[] = {{2.0, 40, ParticleInit::Lognormal, 20.0, 1.5},
                      {2.0, 40, ParticleInit::Lognormal, 30.0, 1.2},
                      {1.5, 60, ParticleInit::Lognormal, 20.0, 1.5},
                      {2.0, 40, ParticleInit::Monodisperse, 7.0, 0.0},
                      {2.0, 40, ParticleInit::Exponential, 20.0, 0.0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.diameter);
    SimulationCase c;
    c.source = "start";
    c.mechanisms.coagulation = true;
    c.mechanisms.vapor = VaporMode::None;
    c.material.density = 1000.0;
    c.grid.nodeCount = row.nodes;
    c.grid.spacingFactor = row.spacing;
    c.grid.firstVolume = M_PI / 6.0 * 1e-27;
    c.initial.particles = row.kind;
    c.initial.diameter = row.diameter;
    c.initial.geometricStd = row.sigma;
    c.initial.concentration = 1e12;
    c.temperature.start = 300.0;
    c.end.time = 1.0;
    AerosolModel model(c);
    ASSERT_TRUE(model.ok()) << model.message();
    const std::vector<double> y = model.initialState();
    double number = 0.0;
    double volume = 0.0;
    for (int k = 1; k <= row.nodes; ++k) {
      EXPECT_GE(y[k - 1], 0.0);
      number += y[k - 1];
      volume += y[k - 1] * model.grid().volume[static_cast<std::size_t>(k)];
    }
    // Hatch-Choate: the mean volume of a lognormal is (pi/6) dg^3 exp(4.5 ln^2 sigma_g); the
    // exponential's is (pi/6) d^3 (its number below node 1, 1.25e-4, goes there).
    const double d = row.diameter * 1e-9;
    const double lnSigma = row.kind == ParticleInit::Lognormal ? std::log(row.sigma) : 0.0;
    const double expected = 1e12 * M_PI / 6.0 * d * d * d * std::exp(4.5 * lnSigma * lnSigma);
    EXPECT_NEAR(number / 1e12, 1.0, 1e-12);
    EXPECT_NEAR(volume / expected, 1.0, 1e-6);
  }
}

TEST(SimulateModelJacobian, EveryPartsBlockMatchesCentralDifferencesOfItsRates) {
  // Each part's block against central differences of that part's rates alone, on a state
  // with particles on every node but the top one (its column comes from the full table); at
  // S = 3 node 2 evaporates (Kelvin) and the larger nodes grow, at S = 8 all grow. Aggregates
  // of twice a sphere's area (the area, the collision diameters and sintering in play); the
  // reactor's parts: a precursor making the vapour, dilution and the walls.
  struct Row {
    int form;
    double S;
    bool aggregates;
    bool reactor;
  };
  for (const Row& row : {Row{1, 3.0, false, true}, Row{1, 8.0, false, false},
                         Row{2, 3.0, false, false}, Row{2, 8.0, false, true},
                         Row{1, 3.0, true, false}, Row{2, 8.0, true, true}}) {
    RunSettings s = exampleMaterial(10, 3, row.form);
    SimulationCase c = legacyCaseOf(s, 3);
    if (row.aggregates) {
      AggregateProperties a;
      a.sintering.form = SinteringForm::GrainBoundary;
      a.sintering.prefactor = 7.44e16;
      a.sintering.activationTemperature = 31000.0;
      c.aggregates = a;
    }
    if (row.reactor) {
      c.reactor.expansion = true;
      c.reactor.dilution.table = {{0.0, 50.0}, {1.0, 150.0}};
      c.reactor.tubeDiameter = 0.002;
      c.reactor.wallLossRate = 3.0;
      c.precursor = PrecursorProperties{true, 1e20, 8.26e4, 10681.0, PrecursorProduct::Vapor};
    }
    AerosolModel model(c);
    ASSERT_TRUE(model.ok()) << model.message();
    const int n = model.size();
    const int nodes = s.nodeCount;
    std::vector<double> N(static_cast<std::size_t>(nodes + 2), 0.0);
    N[1] = row.S * saturationAt(s, s.startTemperature);
    fillParticles(N, 2, nodes, 1e16);
    N[static_cast<std::size_t>(nodes)] = 0.0;
    std::vector<double> y = stateOf(N, nodes);
    std::vector<double> scale(static_cast<std::size_t>(n), 1e16);  // a step where an entry is 0
    if (row.aggregates) {
      for (int k = 1; k <= nodes; ++k) {
        const double a = sphereArea(model.grid().volume[static_cast<std::size_t>(k)]);
        y.push_back(k == 1 ? 0.0 : 2.0 * a * N[static_cast<std::size_t>(k)]);
        scale[static_cast<std::size_t>(nodes + k - 1)] = 1e16 * a;
      }
    }
    // The scalars: the precursor, and the tallies of what is lost.
    const std::size_t firstScalar = y.size();
    while (y.size() < static_cast<std::size_t>(n)) y.push_back(y.size() == firstScalar ? 3e19 : 1e12);
    model.holdBranches(0.0, y.data(), nullptr);
    ASSERT_EQ(model.parts().size(), 3u + (row.aggregates ? 1u : 0u) + (row.reactor ? 3u : 0u));
    for (const auto& part : model.parts()) {
      SCOPED_TRACE(std::string(part->name()) + (row.form == 1 ? ", free molecular" : ", Fuchs") +
                   ", S = " + std::to_string(row.S));
      const ModelPoint point = model.prepare(0.0);
      std::vector<std::vector<double>> jac(static_cast<std::size_t>(n),
                                           std::vector<double>(static_cast<std::size_t>(n)));
      std::vector<double*> columns;
      for (auto& column : jac) columns.push_back(column.data());
      part->addJacobian(point, y.data(), columns.data());
      // Entries that cancel to 0 (the top node keeps the area of its collisions) leave
      // rounding noise in the differences: a floor of 1e-9 of the block's largest entry.
      double block = 0.0;
      for (const auto& column : jac)
        for (double entry : column) block = std::max(block, std::fabs(entry));
      std::vector<double> up(y.size()), down(y.size()), yp = y, ym = y;
      for (int m = 0; m < n; ++m) {
        const auto i = static_cast<std::size_t>(m);
        // Coagulation is quadratic and growth linear in a particle node: central differences
        // are exact there; nucleation is steep in N1.
        const double h = m == 0 ? 1e-6 * y[0] : 1e-4 * std::max(std::fabs(y[i]), scale[i]);
        yp[i] = y[i] + h;
        ym[i] = y[i] - h;
        std::fill(up.begin(), up.end(), 0.0);
        std::fill(down.begin(), down.end(), 0.0);
        part->addRates(point, yp.data(), up.data());
        part->addRates(point, ym.data(), down.data());
        yp[i] = y[i];
        ym[i] = y[i];
        double largest = 0.0;
        for (int k = 0; k < n; ++k)
          largest = std::max(largest, std::fabs((up[k] - down[k]) / (2.0 * h)));
        for (int k = 0; k < n; ++k)
          EXPECT_NEAR(jac[i][static_cast<std::size_t>(k)], (up[k] - down[k]) / (2.0 * h),
                      1e-5 * largest + 1e-9 * block)
              << "d(row " << k + 1 << ")/d(entry " << m + 1 << ")";
      }
    }
  }
}

TEST(SimulateModelBranches, NucleationGoesToTheNewNodeFromTheCrossingOnAndStaysThere) {
  // The bundled nucleation-coagulation vapour at 1200 K. A crossing of v* below node 2 is held
  // from the root on, and a state a little back across (the restart's first steps scatter by
  // about the tolerance) neither returns a root nor takes the branch back; a real return, or
  // a crossing of the boundary ahead, does.
  RunSettings s = exampleMaterial(20, 2, 1);
  SimulationCase c = legacyCaseOf(s, 2);
  c.tolerances.relative = 1e-7;
  AerosolModel model(c);
  ASSERT_TRUE(model.ok()) << model.message();
  const double T = 1200.0;
  const double t = (s.startTemperature - T) / s.coolingRate;
  NucleationState sat;
  computeSaturation(c.material, s.pressure, T, sat);
  const double v1 = model.grid().volume[1];
  // The state whose critical cluster has volume v.
  auto stateWith = [&](double v) {
    const double d = std::cbrt(6.0 * v / 3.1415926);
    const double lnS = 4.0 * sat.surfaceTension * v1 / (1.38e-23 * T * d);
    std::vector<double> y(static_cast<std::size_t>(model.size()), 0.0);
    y[0] = std::exp(lnS) * sat.saturationConcentration;
    return y;
  };
  const double v2 = model.grid().volume[2];
  const double v3 = model.grid().volume[3];
  double g[2];
  const int rootOfLowerBoundary[2] = {0, -1};

  std::vector<double> y = stateWith(v2 * 1.001);  // node 3 takes the clusters
  model.holdBranches(t, y.data(), nullptr);
  std::vector<double> f(y.size()), before(y.size());
  ASSERT_TRUE(model.rhs(t, y.data(), before.data()));
  ASSERT_GT(before[2], 0.0);
  ASSERT_EQ(before[1], 0.0);
  model.roots(t, y.data(), g);
  ASSERT_GT(g[1], 0.0);

  y = stateWith(v2 * (1.0 - 1e-12));  // the root: just across v2
  model.roots(t, y.data(), g);
  EXPECT_LT(g[1], 0.0);
  EXPECT_TRUE(model.holdBranches(t, y.data(), rootOfLowerBoundary));
  ASSERT_TRUE(model.rhs(t, y.data(), f.data()));
  EXPECT_GT(f[1], 0.0);
  EXPECT_EQ(f[2], 0.0);

  y = stateWith(v2 * (1.0 + 1e-9));  // scattered back across by the first steps
  model.roots(t, y.data(), g);
  EXPECT_LT(g[0], 0.0);
  EXPECT_FALSE(model.holdBranches(t, y.data(), nullptr));
  ASSERT_TRUE(model.rhs(t, y.data(), f.data()));
  EXPECT_GT(f[1], 0.0);

  y = stateWith(v2 * 1.01);  // a real return
  model.roots(t, y.data(), g);
  EXPECT_GT(g[0], 0.0);
  EXPECT_TRUE(model.holdBranches(t, y.data(), nullptr));
  ASSERT_TRUE(model.rhs(t, y.data(), f.data()));
  EXPECT_GT(f[2], 0.0);

  y = stateWith(v3 * (1.0 + 1e-12));  // the boundary ahead, without a margin
  model.roots(t, y.data(), g);
  EXPECT_GT(g[0], 0.0);
}

// The figures of one output time that the checks read, by their names in the outputs.
struct Figures {
  double time = 0.0;
  double temperature = 0.0;
  double monomerConcentration = 0.0;
  double totalNumber = 0.0;
  double particleVolume = 0.0;
  double totalVolume = 0.0;
  double meanDiameter = 0.0;
  double geometricStd = 0.0;
  std::vector<double> concentration;
  IntegratorCounts counts;
};

// Keeps what the run hands over.
struct MemorySink : ResultsSink {
  ResultsLayout layout;
  std::vector<Figures> samples;
  int begins = 0;
  int finishes = 0;
  RunOutcome outcome;
  int failWriteAt = -1;  // the sample whose write fails
  bool begin(const SimulationCase&, const ResultsLayout& l, std::string&) override {
    ++begins;
    layout = l;
    return true;
  }
  bool write(const OutputSample& sample, std::string& message) override {
    if (static_cast<int>(samples.size()) == failWriteAt) {
      message = "disk full";
      return false;
    }
    const auto at = [&](const char* name) {
      const int i = layout.find(name);
      EXPECT_GE(i, 0) << name;
      return sample.values.data() + layout.offset(static_cast<std::size_t>(i));
    };
    Figures f;
    f.time = sample.time;
    f.temperature = *at("temperature");
    f.monomerConcentration = *at("monomer_concentration");
    f.totalNumber = *at("total_number");
    f.particleVolume = *at("particle_volume");
    f.totalVolume = *at("total_volume");
    f.meanDiameter = *at("mean_diameter");
    f.geometricStd = *at("geometric_std");
    f.concentration.assign(at("concentration"), at("concentration") + layout.nodeCount);
    f.counts = sample.counts;
    samples.push_back(f);
    return true;
  }
  bool finish(const RunOutcome& result, std::string&) override {
    ++finishes;
    outcome = result;
    return true;
  }
};

// Monodisperse 1 nm particles, 1e20 /m3, at 300 K: the bundled coagulation example.
SimulationCase coagulationCase(int nodes, double endTime) {
  RunSettings s = exampleMaterial(nodes, 1, 1);
  SimulationCase c = legacyCaseOf(s, 1);
  c.mechanisms = Mechanisms{};
  c.mechanisms.coagulation = true;
  c.grid.firstVolume = volumeOfDiameterNm(1.0);
  c.grid.diameterExponent = kThirdSeven;
  c.initial = InitialState{};
  c.initial.particles = ParticleInit::Monodisperse;
  c.initial.diameter = 1.0;
  c.initial.concentration = 1e20;
  c.temperature.law = TemperatureLaw::Constant;
  c.temperature.start = 300.0;
  c.end.rule = EndRule::Time;
  c.end.time = endTime;
  c.output.times = 21;
  c.output.spacing = TimeSpacing::Logarithmic;
  return c;
}

// Runs a case and keeps its samples; the run must complete.
std::vector<Figures> completeRun(const SimulationCase& c, ResultsLayout* layout = nullptr,
                                 std::vector<std::vector<double>>* values = nullptr) {
  struct Keep : MemorySink {
    std::vector<std::vector<double>>* raw = nullptr;
    bool write(const OutputSample& sample, std::string& message) override {
      if (raw != nullptr) raw->push_back(sample.values);
      return MemorySink::write(sample, message);
    }
  } sink;
  sink.raw = values;
  const RunOutcome outcome = runSimulation(c, sink, RunControl{});
  EXPECT_EQ(outcome.end, RunEnd::Complete) << outcome.message;
  if (layout != nullptr) *layout = sink.layout;
  return sink.samples;
}

TEST(SimulateAggregates, TheModelsLimits) {
  // 1 nm particles, 1e20 /m3, at 300 K on 40 nodes (spacing 2).
  SimulationCase spheres = coagulationCase(40, 1e-3);
  spheres.grid.spacingFactor = 2.0;
  AggregateProperties none;
  none.sintering.form = SinteringForm::None;
  for (const bool flame : {false, true}) {
    // To 0.1 s, while node 1 empties by twenty decades: the rounding of its area must not be
    // left behind as an area below 0. And the TiO2 flame example: a precursor feeding
    // monomers through heating and cooling, with nodes between the monomers and the
    // particles that empty far below the tolerance.
    SCOPED_TRACE(flame ? "instant sintering: the flame's spheres" : "instant sintering: spheres");
    SimulationCase sphereRun = spheres;
    sphereRun.end.time = 0.1;
    if (flame) {
      std::string message;
      ASSERT_TRUE(readCaseFile(std::string(AEROSOL_SOURCE_DIR) +
                                   "/examples/aggregates/tio2-flame.toml",
                               sphereRun, message))
          << message;
      sphereRun.grid.nodeCount = 60;
      sphereRun.output.times = 41;
      sphereRun.aggregates.reset();
    }
    SimulationCase c = sphereRun;
    AggregateProperties instant = none;
    instant.sintering.form = SinteringForm::Instant;
    c.aggregates = instant;
    const std::vector<Figures> a = completeRun(c), b = completeRun(sphereRun);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 1; i < a.size(); ++i) {
      EXPECT_NEAR(a[i].totalNumber / b[i].totalNumber, 1.0, 1e-3);
      EXPECT_NEAR(a[i].meanDiameter / b[i].meanDiameter, 1.0, 1e-3);
    }
  }
  {
    SCOPED_TRACE("a law with a minimum diameter, from primaries far below it");
    // Buesser et al.'s TiO2 set (d_min 3.4 nm): at 300 K and 1 nm its exponent gives
    // tau_s = 1e-125 s. The 1 nm particles coalesce as spheres do while they stay small (to
    // 1.3 nm by 5e-5 s); the run must not stall on that rate.
    SimulationCase base = spheres;
    base.end.time = 5e-5;
    SimulationCase c = base;
    AggregateProperties small = none;
    small.sintering.form = SinteringForm::GrainBoundary;
    small.sintering.prefactor = 3.7e16;
    small.sintering.activationTemperature = 31032.0;
    small.sintering.minDiameter = 3.4e-9;
    c.aggregates = small;
    const std::vector<Figures> a = completeRun(c), b = completeRun(base);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
      EXPECT_NEAR(a[i].totalNumber / b[i].totalNumber, 1.0, 1e-3);
  }
  {
    SCOPED_TRACE("no sintering: coagulation keeps the area and the primaries");
    SimulationCase c = spheres;
    c.aggregates = none;
    ResultsLayout layout;
    std::vector<std::vector<double>> raw;
    const std::vector<Figures> f = completeRun(c, &layout, &raw);
    const std::size_t area = layout.offset(static_cast<std::size_t>(layout.find("surface_area")));
    const std::size_t sauter =
        layout.offset(static_cast<std::size_t>(layout.find("sauter_primary_diameter")));
    const auto total = [&](const std::vector<double>& v) {
      double sum = 0.0;
      for (int k = 0; k < layout.nodeCount; ++k) sum += v[area + static_cast<std::size_t>(k)];
      return sum;
    };
    EXPECT_LT(f.back().totalNumber, 0.1 * f.front().totalNumber);
    for (const std::vector<double>& v : raw) {
      EXPECT_NEAR(total(v) / total(raw.front()), 1.0, 3e-12);  // measured 2.5e-14
      EXPECT_NEAR(v[sauter] / 1e-9, 1.0, 3e-12);  // 6 V / A of 1 nm spheres
    }
  }
  {
    SCOPED_TRACE("sintering alone: the excess area relaxes as the law says");
    // Node 5 of aggregates of twice the sphere's area (primaries of half its diameter) by
    // viscous flow, tau = A d_p exp(T_a / T) with d_p = d_v / (1 + x), x = A / A_sph - 1:
    // dx/dt = -x (1 + x) / tau_v, so x / (1 + x) = x0 / (1 + x0) exp(-t / tau_v).
    SimulationCase c = spheres;
    c.mechanisms.coagulation = false;
    AggregateProperties viscous;
    viscous.sintering.form = SinteringForm::ViscousFlow;
    viscous.sintering.prefactor = 1e4;  // s/m
    viscous.sintering.activationTemperature = 0.0;
    c.aggregates = viscous;
    c.initial.particles = ParticleInit::SeededNode;
    c.initial.seedNode = 5;
    c.tolerances.relative = 1e-8;
    c.output.spacing = TimeSpacing::Linear;
    const double v5 = volumeOfDiameterNm(1.0) * 16.0;
    const double dv = std::cbrt(6.0 * v5 / 3.1415926);
    c.initial.primaryDiameter = 0.5 * dv * 1e9;
    const double tauV = 1e4 * dv;
    c.end.time = 3.0 * tauV;
    ResultsLayout layout;
    std::vector<std::vector<double>> raw;
    const std::vector<Figures> f = completeRun(c, &layout, &raw);
    const std::size_t area =
        layout.offset(static_cast<std::size_t>(layout.find("surface_area"))) + 4;
    const double sphere = sphereArea(v5) * 1e20;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      const double r = 0.5 * std::exp(-f[i].time / tauV);
      EXPECT_NEAR(raw[i][area] / sphere - 1.0, r / (1.0 - r), 1e-6) << "t = " << f[i].time;
    }
  }
  {
    SCOPED_TRACE("kernels: spheres give the sphere table, symmetric, following D_f");
    SimulationCase c = spheres;
    for (int form : {1, 2}) {
      c.mechanisms.kernel = form == 1 ? KernelForm::FreeMolecular : KernelForm::Fuchs;
      c.gas.sutherlandA = 1.458e-6;
      c.gas.sutherlandB = 110.4;
      const int n = c.grid.nodeCount;
      std::vector<double> kernels[3];
      for (int pass = 0; pass < 3; ++pass) {
        AggregateProperties a = none;
        a.fractalDimension = pass == 2 ? 2.5 : 1.8;
        c.aggregates = a;
        AerosolModel model(c);
        ASSERT_TRUE(model.ok()) << model.message();
        // Spheres first, then aggregates of four times the sphere's area.
        std::vector<double> y(static_cast<std::size_t>(model.size()), 0.0);
        for (int k = 1; k <= n; ++k) {
          y[static_cast<std::size_t>(k - 1)] = 1e15;
          y[static_cast<std::size_t>(n + k - 1)] =
              (pass == 0 ? 1.0 : 4.0) * 1e15 * sphereArea(model.grid().volume[k]);
        }
        std::vector<double> ydot(y.size());
        ASSERT_TRUE(model.rhs(0.0, y.data(), ydot.data()));
        const auto* part =
            dynamic_cast<const AggregateCoagulationPart*>(model.parts().front().get());
        ASSERT_NE(part, nullptr);
        kernels[pass] = part->kernel();
        if (pass == 0) {
          CollisionKernel table = makeCollisionKernel(model.grid().capacity);
          CollisionModel collision;
          collision.form = c.mechanisms.kernel;
          collision.density = c.material.density;
          collision.gas = c.gas;
          computeCollisionKernel(300.0, collision, model.grid(), n, table);
          for (int i = 1; i <= n; ++i)
            for (int j = 1; j <= n; ++j)
              ASSERT_EQ(kernels[0][static_cast<std::size_t>((i - 1) * n + j - 1)], table.at(i, j))
                  << i << ", " << j;
        }
      }
      for (int i = 1; i <= n; ++i)
        for (int j = 1; j < i; ++j) {
          const auto ij = static_cast<std::size_t>((i - 1) * n + j - 1);
          const auto ji = static_cast<std::size_t>((j - 1) * n + i - 1);
          EXPECT_EQ(kernels[1][ij], kernels[1][ji]);
          EXPECT_NE(kernels[1][ij], kernels[2][ij]);
          if (form == 1) {  // free molecular: larger, more open aggregates collide more
            EXPECT_GT(kernels[1][ij], kernels[0][ij]);
            EXPECT_GT(kernels[1][ij], kernels[2][ij]);
          }
        }
    }
  }
}

TEST(SimulateAggregates, ANodeWithASubnormalAreaKeepsTheJacobianFinite) {
  // The far tail of a distribution falls to subnormal numbers (1e-307 particles of 8 um and
  // 4e-317 m2 per m3): sintering's d d_p / dA there must not overflow, or the integrator's
  // Newton iterations fail on a Jacobian that is not finite (a silica run on 160 nodes did).
  SimulationCase c = coagulationCase(40, 1e-3);
  c.grid.spacingFactor = 2.0;
  AggregateProperties a;
  a.sintering.form = SinteringForm::ViscousFlow;
  a.sintering.prefactor = 1e4;
  a.sintering.activationTemperature = 0.0;
  c.aggregates = a;
  AerosolModel model(c);
  ASSERT_TRUE(model.ok()) << model.message();
  const int n = c.grid.nodeCount;
  std::vector<double> y(static_cast<std::size_t>(model.size()), 0.0);
  for (int k = 1; k <= n; ++k) {
    const double N = k < n ? 1e15 : 1e-307;
    y[static_cast<std::size_t>(k - 1)] = N;
    // Twice the spheres' area: primaries below the sphere's diameter, d_p not clipped.
    y[static_cast<std::size_t>(n + k - 1)] =
        2.0 * N * sphereArea(model.grid().volume[static_cast<std::size_t>(k)]);
  }
  ASSERT_LT(y[static_cast<std::size_t>(2 * n - 1)], 1e-315);
  ASSERT_GT(y[static_cast<std::size_t>(2 * n - 1)], 0.0);
  std::vector<std::vector<double>> jac(static_cast<std::size_t>(model.size()),
                                       std::vector<double>(static_cast<std::size_t>(model.size())));
  std::vector<double*> columns;
  for (auto& column : jac) columns.push_back(column.data());
  EXPECT_TRUE(model.jacobian(0.0, y.data(), columns.data()));
}

TEST(SimulateRun, LapackSolverGivesTheDenseSolversResults) {
  // The bundled nucleation-growth vapour on 30 nodes with either linear solver: the same run
  // to within the tolerance (the factorisations round differently, the steps may differ).
  RunSettings s = exampleMaterial(30, 3, 2);
  s.coolingRate = 6000.0;
  SimulationCase c = legacyCaseOf(s, 3);
  c.output.times = 6;
  std::vector<Figures> results[2];
  for (LinearSolver solver : {LinearSolver::Lapack, LinearSolver::SundialsDense}) {
    MemorySink sink;
    RunControl control;
    control.linearSolver = solver;
    const RunOutcome outcome = runSimulation(c, sink, control);
    ASSERT_EQ(outcome.end, RunEnd::Complete) << outcome.message;
    results[solver == LinearSolver::Lapack ? 0 : 1] = sink.samples;
  }
  ASSERT_EQ(results[0].size(), results[1].size());
  for (std::size_t i = 1; i < results[0].size(); ++i) {
    EXPECT_NEAR(results[0][i].totalNumber / results[1][i].totalNumber, 1.0, 1e-3);
    EXPECT_NEAR(results[0][i].meanDiameter / results[1][i].meanDiameter, 1.0, 1e-3);
  }
}

TEST(SimulateRun, WholeArrayMatrixOperationsGiveSundialsOwnBits) {
  // CVODE's copy and I + cA, on a matrix and on the clone CVODE makes of it, against SUNDIALS'
  // own dense operations on the same entries: the same doubles.
  sundials::Context context;
  const sunindextype n = 7;
  SUNMatrix ours = withWholeArrayOps(SUNDenseMatrix(n, n, context));
  SUNMatrix theirs = SUNDenseMatrix(n, n, context);
  for (sunindextype k = 0; k < n * n; ++k)
    SUNDenseMatrix_Data(ours)[k] = SUNDenseMatrix_Data(theirs)[k] =
        std::sin(1.0 + 0.37 * static_cast<double>(k)) * 3e5;
  SUNMatrix clone = SUNMatClone(ours);
  ASSERT_EQ(SUNMatCopy(ours, clone), SUNMAT_SUCCESS);
  ASSERT_EQ(SUNMatScaleAddI(-0.7311, clone), SUNMAT_SUCCESS);
  ASSERT_EQ(SUNMatScaleAddI_Dense(-0.7311, theirs), SUNMAT_SUCCESS);
  ASSERT_EQ(SUNMatCopy(clone, ours), SUNMAT_SUCCESS);
  for (sunindextype k = 0; k < n * n; ++k)
    EXPECT_EQ(SUNDenseMatrix_Data(ours)[k], SUNDenseMatrix_Data(theirs)[k]) << "entry " << k;
  SUNMatrix wrongShape = SUNDenseMatrix(n, n + 1, context);
  EXPECT_EQ(SUNMatCopy(ours, wrongShape), SUNMAT_ILL_INPUT);
  for (SUNMatrix m : {ours, theirs, clone, wrongShape}) SUNMatDestroy(m);
}

TEST(SimulateRun, LapackSolverGivesTheSameBitsInConcurrentRuns) {
  // Runs in threads of one process (Python threads, a sweep) each own a solver, but the LU
  // library underneath may share work buffers between them: two threads factorising and
  // solving at once must get the bits of one alone.
  if (!lapackAvailable()) GTEST_SKIP() << "built without LAPACK";
  const sunindextype n = 61;
  std::vector<double> matrix(static_cast<std::size_t>(n * n));
  for (std::size_t k = 0; k < matrix.size(); ++k)
    matrix[k] = std::sin(1.0 + 0.37 * static_cast<double>(k)) + (k % (n + 1) == 0 ? 5.0 : 0.0);
  auto solveMany = [n, &matrix](int repeats, std::vector<double>& last) {
    sundials::Context context;
    N_Vector x = N_VNew_Serial(n, context);
    N_Vector b = N_VNew_Serial(n, context);
    SUNMatrix A = SUNDenseMatrix(n, n, context);
    SUNLinearSolver S = makeLapackDenseSolver(x, context);
    int differing = 0;
    for (int r = 0; r < repeats; ++r) {
      std::copy(matrix.begin(), matrix.end(), SUNDenseMatrix_Data(A));
      N_VConst(1.0, b);
      if (SUNLinSolSetup(S, A) != SUNLS_SUCCESS || SUNLinSolSolve(S, A, x, b, 0.0) != SUNLS_SUCCESS)
        ++differing;
      const double* solution = N_VGetArrayPointer(x);
      if (!last.empty() && !std::equal(last.begin(), last.end(), solution)) ++differing;
      last.assign(solution, solution + n);
    }
    SUNLinSolFree(S);
    SUNMatDestroy(A);
    N_VDestroy(x);
    N_VDestroy(b);
    return differing;
  };
  std::vector<double> alone;
  ASSERT_EQ(solveMany(1, alone), 0);
  std::vector<double> seen[2] = {alone, alone};
  int differing[2] = {0, 0};
  std::thread first([&] { differing[0] = solveMany(3000, seen[0]); });
  std::thread second([&] { differing[1] = solveMany(3000, seen[1]); });
  first.join();
  second.join();
  EXPECT_EQ(differing[0] + differing[1], 0) << "of 6000 solutions differed from one alone";
}

TEST(SimulateRun, TestKernelsFollowTheirClosedFormsFromAMonodisperseStart) {
  // Monodisperse particles of 10 nm, 1e14 /m3, on 100 nodes at spacing 2: the split keeps
  // number and volume of every collision below the top node, so the total number follows the
  // coagulation equation's own: N0 / (1 + K N0 t / 2) for beta = K, N0 exp(-b V t) for
  // beta = b (v_i + v_j) (V the particle volume), here until it has fallen 100-fold.
  struct Kernel {
    KernelForm form;
    double coefficient;
    double endTime;  // s
  };
  const double N0 = 1e14;
  const double v0 = volumeOfDiameterNm(10.0);
  const double K = 1e-15;   // m3/s
  const double b = 1e-3 / (N0 * v0);  // 1/s: b V = 1e-3 /s
  for (const Kernel& kernel : {Kernel{KernelForm::Constant, K, 198.0 / (K * N0)},
                               Kernel{KernelForm::Additive, b, std::log(100.0) / (b * N0 * v0)}}) {
    SimulationCase c = coagulationCase(100, kernel.endTime);
    c.grid.spacingFactor = 2.0;
    c.grid.firstVolume = v0;
    c.initial.diameter = 10.0;
    c.initial.concentration = N0;
    c.mechanisms.kernel = kernel.form;
    (kernel.form == KernelForm::Constant ? c.mechanisms.constantKernel
                                         : c.mechanisms.additiveKernel) = kernel.coefficient;
    MemorySink sink;
    const RunOutcome outcome = runSimulation(c, sink, RunControl{});
    ASSERT_EQ(outcome.end, RunEnd::Complete) << outcome.message;
    for (const Figures& f : sink.samples) {
      const double exact = kernel.form == KernelForm::Constant
                               ? N0 / (1.0 + 0.5 * K * N0 * f.time)
                               : N0 * std::exp(-b * N0 * v0 * f.time);
      EXPECT_NEAR(f.totalNumber / exact, 1.0, 1e-3) << "t = " << f.time;
      EXPECT_NEAR(f.particleVolume / (N0 * v0), 1.0, 1e-11)  // measured 1.3e-13
          << "t = " << f.time;
    }
    EXPECT_NEAR(sink.samples.back().totalNumber / N0, 0.01, 1e-5);
  }
}

TEST(SimulateRun, FreeMolecularCoagulationKeepsVolumeAndReachesTheSelfPreservingWidth) {
  MemorySink sink;
  const RunOutcome outcome = runSimulation(coagulationCase(100, 0.01), sink, RunControl{});
  ASSERT_EQ(outcome.end, RunEnd::Complete) << outcome.message;
  EXPECT_EQ(sink.begins, 1);
  EXPECT_EQ(sink.finishes, 1);
  ASSERT_EQ(sink.samples.size(), 21u);
  EXPECT_EQ(sink.samples.front().time, 0.0);
  EXPECT_EQ(sink.samples.back().time, 0.01);
  for (std::size_t i = 1; i < sink.samples.size(); ++i) {
    EXPECT_GT(sink.samples[i].time, sink.samples[i - 1].time);
    EXPECT_LE(sink.samples[i].totalNumber, sink.samples[i - 1].totalNumber * (1 + 1e-6));
    EXPECT_GE(sink.samples[i].counts.steps, sink.samples[i - 1].counts.steps);
  }
  const Figures& first = sink.samples.front();
  const Figures& last = sink.samples.back();
  EXPECT_DOUBLE_EQ(first.totalNumber, 1e20);
  EXPECT_LT(last.totalNumber, 1e-2 * first.totalNumber);
  EXPECT_NEAR(last.particleVolume / first.particleVolume, 1.0, 1e-13);  // measured 7e-16
  // The free-molecular self-preserving distribution's sigma_g, 1.465 (docs/validation.md):
  // a grid of 100 nodes is within 1% of it.
  EXPECT_NEAR(last.geometricStd, 1.465, 0.01 * 1.465);
  EXPECT_GT(last.counts.jacobianEvaluations, 0);
  EXPECT_EQ(outcome.counts.steps, last.counts.steps);
}

TEST(SimulateRun, EveryKernelAndMechanismMixKeepsVolume) {
  // The engine's call orders: Fuchs tables kept at a constant temperature (node 1 particles),
  // filled on demand for growth alone, growth with a held vapour.
  SimulationCase fuchsCoagulation = coagulationCase(24, 0.01);
  fuchsCoagulation.mechanisms.kernel = KernelForm::Fuchs;
  RunSettings s = exampleMaterial(24, 3, 2);
  s.coolingRate = 6000.0;
  SimulationCase fuchsGrowth = legacyCaseOf(s, 3);
  fuchsGrowth.mechanisms.coagulation = false;
  fuchsGrowth.output.times = 5;
  SimulationCase heldVapour = legacyCaseOf(s, 4);
  heldVapour.initial.particles = ParticleInit::Lognormal;
  heldVapour.initial.diameter = 5.0;
  heldVapour.initial.geometricStd = 1.5;
  heldVapour.initial.concentration = 1e12;
  heldVapour.output.times = 5;
  for (const SimulationCase& c : {fuchsCoagulation, fuchsGrowth}) {
    MemorySink sink;
    const RunOutcome outcome = runSimulation(c, sink, RunControl{});
    ASSERT_EQ(outcome.end, RunEnd::Complete) << outcome.message;
    // Measured 6.9e-11.
    EXPECT_NEAR(sink.samples.back().totalVolume / sink.samples.front().totalVolume, 1.0, 7e-9);
  }
  MemorySink sink;
  const RunOutcome outcome = runSimulation(heldVapour, sink, RunControl{});
  ASSERT_EQ(outcome.end, RunEnd::Complete) << outcome.message;
  EXPECT_NEAR(sink.samples.front().totalNumber, 1e12, 1e3);  // lognormal: every particle placed
  EXPECT_EQ(sink.samples.back().monomerConcentration, sink.samples.front().monomerConcentration);
}

TEST(SimulateRun, SeededGrowthExampleRunsThroughNodesThatEmpty) {
  // examples/seeded-growth: seeds of node 7 in a held vapour, cooled at 10000 K/s. The seeds
  // first evaporate, then grow node to node; the nodes they leave empty far below the
  // absolute tolerance, where the non-negativity constraint alone once stopped the run.
  RunSettings s = exampleMaterial(20, 4, 1);
  s.coolingRate = 10000.0;
  SimulationCase c = legacyCaseOf(s, 4);
  c.initial.particles = ParticleInit::SeededNode;
  c.initial.seedNode = 7;
  c.initial.concentration = 1e12;
  c.output.times = 11;
  MemorySink sink;
  const RunOutcome outcome = runSimulation(c, sink, RunControl{});
  ASSERT_EQ(outcome.end, RunEnd::Complete) << outcome.message;
  EXPECT_DOUBLE_EQ(sink.samples.back().temperature, 300.0);
  // Growth moves particles between nodes; only evaporation out of node 2 removes any.
  for (std::size_t i = 1; i < sink.samples.size(); ++i)
    EXPECT_LE(sink.samples[i].totalNumber, sink.samples[i - 1].totalNumber * (1 + 1e-4));
  EXPECT_GT(sink.samples.back().meanDiameter, sink.samples.front().meanDiameter);
}

TEST(SimulateRun, EndsHonestlyWhenStoppedFailingOrUnableToWrite) {
  {
    SCOPED_TRACE("interrupted");
    MemorySink sink;
    int polls = 0;
    RunControl control;
    control.stopRequested = [&polls] { return ++polls > 40; };
    const RunOutcome outcome = runSimulation(coagulationCase(20, 0.01), sink, control);
    EXPECT_EQ(outcome.end, RunEnd::Interrupted);
    EXPECT_GT(outcome.timeReached, 0.0);
    EXPECT_LT(outcome.timeReached, 0.01);
    EXPECT_LT(sink.samples.size(), 21u);
    EXPECT_EQ(sink.finishes, 1);
    EXPECT_EQ(sink.outcome.end, RunEnd::Interrupted);
    // The state reached is the last time handed over, after the output times before it.
    ASSERT_GE(sink.samples.size(), 2u);
    EXPECT_EQ(sink.samples.back().time, outcome.timeReached);
    EXPECT_GT(sink.samples.back().time, sink.samples[sink.samples.size() - 2].time);
    EXPECT_NEAR(sink.samples.back().particleVolume / sink.samples.front().particleVolume, 1.0,
                1e-13);
  }
  {
    SCOPED_TRACE("step limit");
    MemorySink sink;
    SimulationCase c = coagulationCase(20, 0.01);
    c.tolerances.maxSteps = 5;
    const RunOutcome outcome = runSimulation(c, sink, RunControl{});
    EXPECT_EQ(outcome.end, RunEnd::IntegratorFailure);
    EXPECT_NE(outcome.message.find("too much work"), std::string::npos) << outcome.message;
    EXPECT_NE(outcome.message.find("t = "), std::string::npos) << outcome.message;
    EXPECT_EQ(outcome.counts.steps, 5);
    EXPECT_EQ(sink.finishes, 1);
  }
  {
    SCOPED_TRACE("no run to start");
    SimulationCase tooMany = coagulationCase(20, 0.01);
    tooMany.grid.nodeCount = kMostNodes + 1;
    SimulationCase neverCold = coagulationCase(20, 0.01);
    neverCold.end.rule = EndRule::Temperature;
    neverCold.end.temperature = 250.0;  // the gas stays at 300 K
    // Rates that would overflow at t = 0: refused by the checks, not left to the integrator.
    SimulationCase overflow = coagulationCase(20, 0.01);
    overflow.initial.concentration = 1e300;
    for (const SimulationCase& c : {tooMany, neverCold, overflow}) {
      MemorySink sink;
      const RunOutcome outcome = runSimulation(c, sink, RunControl{});
      EXPECT_EQ(outcome.end, RunEnd::IntegratorFailure);
      EXPECT_NE(outcome.message.find(c.source), std::string::npos) << outcome.message;
      EXPECT_EQ(sink.begins, 0);
      EXPECT_EQ(sink.finishes, 1);
    }
  }
  {
    SCOPED_TRACE("write failure");
    MemorySink sink;
    sink.failWriteAt = 3;
    const RunOutcome outcome = runSimulation(coagulationCase(20, 0.01), sink, RunControl{});
    EXPECT_EQ(outcome.end, RunEnd::WriteFailure);
    EXPECT_EQ(outcome.message, "disk full");
    EXPECT_EQ(sink.samples.size(), 3u);
    EXPECT_EQ(sink.finishes, 1);
  }
}

TEST(SimulateRun, NucleationGrowthConservesVolumeAndStaysNonNegative) {
  // The bundled nucleation-growth vapour (1500 K to 300 K at 6000 K/s) on 30 nodes, where
  // the fixed-step process 3 turns negative: a burst, growth and evaporation out of node 2.
  RunSettings s = exampleMaterial(30, 3, 1);
  s.coolingRate = 6000.0;
  SimulationCase c = legacyCaseOf(s, 3);
  c.output.times = 11;
  MemorySink sink;
  const RunOutcome outcome = runSimulation(c, sink, RunControl{});
  ASSERT_EQ(outcome.end, RunEnd::Complete) << outcome.message;
  ASSERT_EQ(sink.samples.size(), 11u);
  const double start = sink.samples.front().totalVolume;
  for (const Figures& sample : sink.samples) {
    // Measured 3.6e-11.
    EXPECT_NEAR(sample.totalVolume / start, 1.0, 4e-9) << "t = " << sample.time;
    for (double value : sample.concentration) {
      EXPECT_TRUE(std::isfinite(value));
      EXPECT_GE(value, -c.tolerances.absolute);
    }
  }
  EXPECT_DOUBLE_EQ(sink.samples.back().temperature, 300.0);
  // The vapour ends up in the particles.
  EXPECT_GT(sink.samples.back().particleVolume, 0.99 * start);
  EXPECT_GT(sink.samples.back().totalNumber, 0.0);
}

}  // namespace
}  // namespace aerosol
