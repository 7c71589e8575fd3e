#!/usr/bin/python3
"""aerosol simulate's reactor terms against their exact solutions, and the volume budget.

Each case turns on one term with nothing else changing the concentrations, and its result is
compared with the solution of its equation written out here (never the program's own
formulas):
  expansion   concentrations follow the gas density: N T / P constant, for the vapour and
              every particle node, along a cooling and along a table with pressures (5e-14).
  dilution    N(t) = N0 exp(-integral of k dt), at a constant rate and along a table (1e-5),
              for the vapour, the particles and the precursor.
  walls       N_k(t) = N_k(0) exp(-k_k t) at constant temperature, with k_k = Sh 4 D_k / d_t^2
              + k_w from the textbook formulas below (1e-5), the vapour monomer included.
  precursor   alone, making particles: node 1 = C0 (1 - exp(-k t)), C_p = C0 exp(-k t), k the
              Arrhenius rate (1e-5); making vapour that condenses on seeds: C_p as above, and
              the precursor, vapour and particle volume together conserved (2e-13).
  budget      every case file in examples/reactor: vapour, particles, precursor (one monomer
              per molecule) and what dilution and the walls took, per unit of gas, equal to the
              start within 1e-10 at every output time.

The formulas use the program's stored constants (docs/simulate.md): k = 1.38e-23 J/K,
pi = 3.1415926, R = 8.314 J/(mol K), and the carrier gas's mean free path formed with a molar
mass of 0.040 kg/mol.
"""

import glob
import math
import os
import sys
import time
import tomllib

import numpy as np
import netCDF4

import aerosol_runs as ar
import simulate_checks as sc

REPO = ar.REPO
EXAMPLES = os.path.join(REPO, "examples", "reactor")

BOLTZMANN = 1.38e-23      # J/K
PI = 3.1415926
GAS_CONSTANT = 8.314      # J/(mol K)
GAS_MOLAR_MASS = 0.040    # kg/mol, of the mean free path
PASCAL_PER_ATM = 101325.0
SHERWOOD = 3.66           # fully developed laminar flow in a tube, constant wall concentration

# What is exact or conserved, at about 100 times the deviation measured (4.4e-16, 1.3e-15,
# 1.1e-12); the integrated terms at the tolerance asked for.
EXPANSION_LIMIT = 5e-14
RATE_LIMIT = 1e-5
CONSERVED_LIMIT = 2e-13
BUDGET_LIMIT = 1e-10

# The bundled vapour (M = 0.1 kg/mol, rho = 2000 kg/m3) and air's viscosity; every term off.
BASE = {
    "mechanisms": dict(nucleation=False, coagulation=False, growth=False,
                       kernel="free-molecular", vapor="depleted"),
    "material": dict(molar_mass=0.1, density=2000.0, surface_tension_a=500.0,
                     surface_tension_b=0.2, vapor_pressure_c=10.0, vapor_pressure_d=30000.0),
    "gas": dict(pressure=1.0, sutherland_a=1.458e-6, sutherland_b=110.4),
    "grid": dict(nodes=20),
    "initial": dict(monomer_concentration=1e18,
                    particles=dict(kind="lognormal", diameter=5.0, sigma_g=1.6,
                                   concentration=1e14)),
    "temperature": dict(law="constant", start=1000.0),
    "end": dict(time=0.1),
    "reactor": dict(expansion=False),
    "tolerances": dict(relative=1e-9, absolute=1e-6),
    "output": dict(times=41),
}


def case(**tables):
    """BASE with whole tables replaced (None removes one)."""
    out = {k: (dict(v) if isinstance(v, dict) else v) for k, v in BASE.items()}
    for name, table in tables.items():
        if table is None:
            out.pop(name, None)
        else:
            out[name] = table
    return out


# ---------------------------------------------------------------------------------------
# The exact solutions

def sutherland_viscosity(T, a, b):
    """mu = A T^1.5 / (B + T), Pa s."""
    return a * T ** 1.5 / (b + T)


def mean_free_path(T, pressure_atm, mu):
    """lambda = mu / P sqrt(pi R T / (2 M)), m."""
    return mu / (pressure_atm * PASCAL_PER_ATM) * math.sqrt(PI * GAS_CONSTANT * T
                                                            / (2.0 * GAS_MOLAR_MASS))


def slip_correction(kn):
    """Cunningham: Cc = 1 + Kn (1.257 + 0.4 exp(-1.1 / Kn)), Kn = 2 lambda / d."""
    return 1.0 + kn * (1.257 + 0.4 * math.exp(-1.1 / kn))


def tube_loss_rate(T, pressure_atm, d, tube, a, b):
    """Sh 4 D / d_t^2 with the Stokes-Einstein D = k T Cc / (3 pi mu d), 1/s."""
    mu = sutherland_viscosity(T, a, b)
    kn = 2.0 * mean_free_path(T, pressure_atm, mu) / d
    D = BOLTZMANN * T * slip_correction(kn) / (3.0 * PI * mu * d)
    return SHERWOOD * 4.0 * D / tube ** 2


def rate_integral(table, t):
    """Integral from 0 to t of a rate interpolated linearly in a table of [time, rate] rows,
    held before the first and after the last."""
    times = [row[0] for row in table]
    rates = [row[1] for row in table]
    total = rates[0] * min(t, times[0])
    for (t0, k0), (t1, k1) in zip(table, table[1:]):
        if t <= t0:
            break
        end = min(t, t1)
        k_end = k0 + (k1 - k0) * (end - t0) / (t1 - t0)
        total += 0.5 * (k0 + k_end) * (end - t0)
    if t > times[-1]:
        total += rates[-1] * (t - times[-1])
    return total


# ---------------------------------------------------------------------------------------
# Runs

class Run:
    """The arrays of a simulate NetCDF file that the checks read."""

    def __init__(self, path):
        with netCDF4.Dataset(path) as ds:
            self.names = set(ds.variables)

            def var(name):
                return np.array(ds.variables[name][:], dtype=float)
            self.var = var
            self.time = var("time")
            self.volume = var("volume")
            self.diameter = var("diameter")
            self.concentration = var("concentration")
            self.temperature = var("temperature")
            self.pressure = var("pressure")
            self.scalars = {name: var(name) for name in
                            ("precursor_concentration", "volume_lost_to_dilution",
                             "volume_lost_to_walls", "gas_density_ratio")
                            if name in self.names}
            self.run_end = str(ds.getncattr("run_end"))

    def density_ratio(self):
        """(P / P0) (T0 / T) of the history."""
        return (self.pressure / self.pressure[0]) * (self.temperature[0] / self.temperature)

    def budget(self):
        """Volume of the condensed species per m3 of gas at the start density."""
        v = (self.concentration * self.volume).sum(axis=1)
        if "precursor_concentration" in self.scalars:
            v = v + self.scalars["precursor_concentration"] * self.volume[0]
        for name in ("volume_lost_to_dilution", "volume_lost_to_walls"):
            if name in self.scalars:
                v = v + self.scalars[name]
        if "gas_density_ratio" in self.scalars:
            v = v / self.density_ratio()
        return v


def simulate(runner, label, case_dict):
    res, seconds = runner.simulate_case(label, case_dict)
    return Run(os.path.join(runner.work, "%s.nc" % sc.slug(label))), res, seconds


def worst_relative(got, expected, floor=0.0):
    """Largest |got / expected - 1| where expected is above `floor`."""
    got = np.asarray(got, dtype=float)
    expected = np.asarray(expected, dtype=float)
    keep = expected > floor
    return float(np.max(np.abs(got[keep] / expected[keep] - 1.0))) if keep.any() else 0.0


# ---------------------------------------------------------------------------------------
# The cases: (label, case, [(quantity, limit, deviation of a run)])

def nodes_times_t_over_p(run):
    """N_k T / P of every occupied node against its start: largest relative change."""
    c = run.concentration
    scaled = c * (run.temperature / run.pressure)[:, None]
    return worst_relative(scaled, np.broadcast_to(scaled[0], scaled.shape), floor=0.0)


def density_ratio_file(run):
    return worst_relative(run.scalars["gas_density_ratio"], run.density_ratio())


def decay_check(rate_of_node, entries=("nodes", "precursor")):
    """Every node k (and the precursor) against N(0) exp(-integral of its rate)."""
    def deviation(run):
        worst = 0.0
        if "nodes" in entries:
            for k in range(run.concentration.shape[1]):
                n0 = run.concentration[0, k]
                if n0 <= 0.0:
                    continue
                exact = n0 * np.exp(-np.array([rate_of_node(run, k, t) for t in run.time]))
                worst = max(worst, worst_relative(run.concentration[:, k], exact))
        if "precursor" in entries and "precursor_concentration" in run.scalars:
            p = run.scalars["precursor_concentration"]
            exact = p[0] * np.exp(-np.array([rate_of_node(run, None, t) for t in run.time]))
            worst = max(worst, worst_relative(p, exact))
        return worst
    return deviation


def arrhenius(a, activation, T):
    return a * math.exp(-activation / T)


def cases():
    out = []
    cooling = dict(law="cooling", start=1500.0, cooling_rate=6000.0)
    out.append(("expansion, cooling 1500 to 300 K",
                case(temperature=cooling, end=dict(temperature=300.0),
                     reactor=dict(expansion=True)),
                [("N T/P of every node", EXPANSION_LIMIT, nodes_times_t_over_p),
                 ("gas_density_ratio", 1e-12, density_ratio_file)]))
    pressures = dict(law="table", table=[[0.0, 1500.0, 1.0], [0.02, 1200.0, 0.7],
                                         [0.05, 900.0, 1.4], [0.1, 600.0, 1.0]])
    out.append(("expansion, a table with pressures",
                case(temperature=pressures, gas=dict(sutherland_a=1.458e-6, sutherland_b=110.4),
                     reactor=dict(expansion=True)),
                [("N T/P of every node", EXPANSION_LIMIT, nodes_times_t_over_p),
                 ("gas_density_ratio", 1e-12, density_ratio_file)]))
    # A precursor that does not react (rate_a = 0) is only diluted.
    idle = dict(concentration=1e19, rate_a=0.0, activation_temperature=0.0, product="vapor")
    out.append(("dilution, 50 1/s",
                case(reactor=dict(expansion=False, dilution_rate=50.0), precursor=idle),
                [("N / N0 against exp(-k t)", RATE_LIMIT,
                  decay_check(lambda run, k, t: 50.0 * t))]))
    table = [[0.0, 0.0], [0.02, 100.0], [0.05, 20.0], [0.08, 60.0]]
    out.append(("dilution, a table of rates",
                case(reactor=dict(expansion=False, dilution_rate=table), precursor=idle),
                [("N / N0 against exp(-integral k dt)", RATE_LIMIT,
                  decay_check(lambda run, k, t: rate_integral(table, t)))]))
    tube, wall = 0.002, 5.0
    gas = BASE["gas"]

    def wall_rate(run, k, t):
        return (tube_loss_rate(300.0, gas["pressure"], run.diameter[k], tube,
                               gas["sutherland_a"], gas["sutherland_b"]) + wall) * t
    out.append(("walls: a 2 mm tube and 5 1/s at 300 K",
                case(temperature=dict(law="constant", start=300.0), end=dict(time=0.05),
                     reactor=dict(expansion=True, tube_diameter=tube, wall_loss_rate=wall)),
                [("N_k / N_k(0) against exp(-k_k t)", RATE_LIMIT,
                  decay_check(wall_rate, entries=("nodes",)))]))
    a, activation, T = 8.26e4, 10681.0, 1200.0
    k = arrhenius(a, activation, T)
    c0 = 1e20

    def precursor_particles(run):
        exact_node1 = c0 * (1.0 - np.exp(-k * run.time))
        exact_precursor = c0 * np.exp(-k * run.time)
        # Relative to C0: node 1 starts at 0.
        return max(float(np.max(np.abs(run.concentration[:, 0] - exact_node1))) / c0,
                   float(np.max(np.abs(run.scalars["precursor_concentration"]
                                       - exact_precursor))) / c0)
    out.append(("precursor to particles at 1200 K",
                case(mechanisms=dict(BASE["mechanisms"], vapor="none"),
                     initial=None, temperature=dict(law="constant", start=T),
                     end=dict(time=0.3), reactor=dict(expansion=True),
                     precursor=dict(concentration=c0, rate_a=a, activation_temperature=activation,
                                    product="particles")),
                [("node 1 and C_p against C0 (1 - e^-kt), C0 e^-kt (of C0)", RATE_LIMIT,
                  precursor_particles)]))

    def conserved(run):
        budget = run.budget()
        return float(np.max(np.abs(budget / budget[0] - 1.0)))
    out.append(("precursor to vapour, growth on seeds at 1000 K",
                case(mechanisms=dict(BASE["mechanisms"], growth=True),
                     initial=dict(monomer_concentration=0.0,
                                  particles=dict(kind="lognormal", diameter=20.0, sigma_g=1.5,
                                                 concentration=1e14)),
                     end=dict(time=0.01), reactor=dict(expansion=True),
                     precursor=dict(concentration=1e20, rate_a=1e3, activation_temperature=0.0,
                                    product="vapor")),
                [("C_p against C0 e^-kt", RATE_LIMIT,
                  decay_check(lambda run, k, t: 1e3 * t, entries=("precursor",))),
                 ("precursor + vapour + particle volume", CONSERVED_LIMIT, conserved)]))
    return out


def section_exact(runner, failures):
    print("Reactor terms against their exact solutions (relative tolerance 1e-9)")
    print("%-48s %-56s %-9s %-8s %5s %5s" % ("case", "quantity", "deviation", "limit", "steps",
                                              "sec"))
    for label, case_dict, checks in cases():
        run, res, seconds = simulate(runner, label, case_dict)
        for quantity, limit, deviation in checks:
            got = deviation(run)
            print("%-48s %-56s %.2e  %-8g %5d %5.1f" % (label, quantity, got, limit, res.steps,
                                                       seconds))
            if not got <= limit:
                failures.append("%s: %s deviates by %.2e (allowed %g)"
                                % (label, quantity, got, limit))
    print()


def section_budget(runner, failures):
    paths = sorted(glob.glob(os.path.join(EXAMPLES, "*.toml")))
    cases_found = []
    for path in paths:
        with open(path, "rb") as f:
            if "base" not in tomllib.load(f):
                cases_found.append(path)
    if not cases_found:
        failures.append("budget: no case file in %s" % EXAMPLES)
        return
    print("Volume budget of the examples in examples/reactor (default tolerances)")
    print("%-28s %-10s %-10s %-8s" % ("case", "budget", "lost", "limit"))
    for path in cases_found:
        label = os.path.splitext(os.path.basename(path))[0]
        runner.simulate(label, path)
        run = Run(os.path.join(runner.work, "%s.nc" % sc.slug(label)))
        budget = run.budget()
        change = float(np.max(np.abs(budget / budget[0] - 1.0)))
        lost = sum(run.scalars[name][-1] for name in
                   ("volume_lost_to_dilution", "volume_lost_to_walls") if name in run.scalars)
        share = lost / (budget[-1] * (run.density_ratio()[-1]
                                      if "gas_density_ratio" in run.scalars else 1.0))
        print("%-28s %.2e   %.3f      %g" % (label, change, share, BUDGET_LIMIT))
        if not change <= BUDGET_LIMIT:
            failures.append("budget, %s: the volume budget changed by %.2e of the start "
                            "(allowed %g)" % (label, change, BUDGET_LIMIT))
    print("(budget: largest relative change over the run; lost: share of the volume that "
          "dilution and the walls took by the end)")
    print()


def main():
    parser = ar.arguments(__doc__, helper_used=False)
    parser.add_argument("--sections", default="exact,budget",
                        help="comma-separated sections to run (default both)")
    parser.add_argument("--keep", help="keep the runs' files in this folder")
    args = parser.parse_args()
    program = ar.find_program(args.program)
    sections = args.sections.split(",")
    unknown = [s for s in sections if s not in ("exact", "budget")]
    if unknown:
        parser.error("unknown section %s; expected exact or budget" % ", ".join(unknown))
    failures = []
    with ar.work_folder(args.keep, "aerosol-reactor-validation-") as work:
        runner = sc.Runner(program, work)
        for name, section in (("exact", section_exact), ("budget", section_budget)):
            if name not in sections:
                continue
            start = time.monotonic()
            try:
                section(runner, failures)
            except (RuntimeError, OSError, KeyError) as e:
                failures.append("%s: %s" % (name, e))
            sys.stdout.flush()
            print("(%s: %.0f s)\n" % (name, time.monotonic() - start))
    return ar.finish(failures)


if __name__ == "__main__":
    sys.exit(main())
