#!/usr/bin/python3
"""Conservation of particle volume.

Process 1 (coagulation only): every collision product is shared between nodes so that volume
is kept, so the total particle volume must not change over the run.
  - full precision, from the library's operators (validation_helper volume-drift): within 5e-13;
  - as printed (sixth column of every row): the same 7-digit value in every row.
Process 3 (nucleation, coagulation, growth): monomers plus particles ("Particle Volume"
column) are kept while no particle reaches the top node, up to two known small leaks: the
nucleated clusters' volume is formed with the decimals 3.1415926 and 0.6666667 (1.5e-7 of the
nucleated volume), and particles that evaporate out of node 2 return only their monomer to the
vapour. The printed column is compared with its first row.
"""

import subprocess
import sys

import aerosol_runs as ar
import nucleation

PROCESS1_NODES = (26, 48)
PROCESS1_TOLERANCE = 5e-13  # about 100 times the 3.9e-15 measured
# Printing keeps 7 significant digits (half a unit is 5e-7 relative) and the nucleation
# decimals add 1.5e-7 of the nucleated volume; evaporation out of node 2 loses v1/(q - 1) per
# monomer released (2.7e-5 of the total in this run, see docs/validation.md). The limit sits
# above that known leak and far below what a missing or doubled transfer term would lose.
PROCESS3_TOLERANCE = 1e-4
PROCESS3_IDEAL = 1e-6


def process1(program, helper):
    results = []
    for n in PROCESS1_NODES:
        out = subprocess.run([helper, "volume-drift", str(n)], capture_output=True, text=True,
                             check=True).stdout
        values = dict(line.split() for line in out.splitlines())
        run = ar.run_program(program, dict(nodeCount=n, process=1, collisionFunction=1),
                             coag=dict(initialDiameter=1, initialConcentration=1e20,
                                       temperature=300))
        _, rows, _ = ar.parse_process1(run.stdout)
        printed = [r[5] for r in rows]
        results.append(dict(nodes=n, internal=float(values["largest_relative_volume_change"]),
                            top_share=float(values["top_node_volume_share"]),
                            printed=max(abs(v / printed[0] - 1) for v in printed),
                            expected=0.5235988e-27 * 1e20, first=printed[0], rows=len(rows)))
    return results


def process3(program):
    run = ar.run_program(program, dict(nucleation.COOLING_VAPOUR, process=3))
    rows, listings = ar.parse_process3(run.stdout)
    vapour = nucleation.COOLING_VAPOUR
    nodes = vapour["nodeCount"]
    v1 = ar.monomer_volume(vapour["molecularWeight"], vapour["density"])
    top_volume = ar.node_volumes(v1, nodes)[nodes]
    # Volume share of the top node in the node listings (the listings come every 399,999
    # passes; the rows carry no per-node figures).
    top = max((listing.get(nodes, 0.0) * top_volume / rows[i - 1][5]
               for i, listing in listings if i > 0), default=0.0)
    volumes = [r[5] for r in rows]
    drift = [abs(v / volumes[0] - 1) for v in volumes]
    worst = max(range(len(drift)), key=lambda i: drift[i])
    particle_share = max(1 - r[1] * v1 / r[5] for r in rows)
    return dict(rows=len(rows), worst=drift[worst], worst_time=rows[worst][0],
                top_node=top, particle_share=particle_share, seconds=run.seconds)


def main():
    parser = ar.arguments(__doc__, helper_used=True)
    args = parser.parse_args()
    program = ar.find_program(args.program)
    failures = []
    for r in process1(program, args.helper):
        print("process 1, %d nodes: full-precision volume change %.2e (limit %.0e), printed "
              "column change %.2e over %d rows, top node holds %.1e of the volume"
              % (r["nodes"], r["internal"], PROCESS1_TOLERANCE, r["printed"], r["rows"],
                 r["top_share"]))
        if not r["internal"] <= PROCESS1_TOLERANCE:
            failures.append("process 1 at %d nodes: total volume changed by %.2e relative, "
                            "limit %.0e" % (r["nodes"], r["internal"], PROCESS1_TOLERANCE))
        if r["printed"] != 0.0:
            failures.append("process 1 at %d nodes: printed volume column varies by %.2e"
                            % (r["nodes"], r["printed"]))
        if abs(r["first"] / r["expected"] - 1) > 5e-7:
            failures.append("process 1 at %d nodes: printed volume %.6e, expected N0 v1 = %.6e"
                            % (r["nodes"], r["first"], r["expected"]))
    p3 = process3(program)
    print("process 3: monomer + particle volume changes at most %.2e relative (at t = %.4g s, "
          "limit %.0e) over %d rows; particles hold up to %.1f%% of it; top node's volume share up to %.1e"
          % (p3["worst"], p3["worst_time"], PROCESS3_TOLERANCE, p3["rows"],
             100 * p3["particle_share"], p3["top_node"]))
    if p3["worst"] > PROCESS3_IDEAL:
        print("note: process 3 misses the rounding-level figure %.0e by a factor %.0f (known "
              "leak by evaporation out of node 2)" % (PROCESS3_IDEAL, p3["worst"] / PROCESS3_IDEAL))
    if p3["top_node"] > 1e-9:
        print("note: particles reached the top node; the process 3 figure no longer applies")
    elif not p3["worst"] <= PROCESS3_TOLERANCE:
        failures.append("process 3: monomer + particle volume changed by %.2e relative at "
                        "t = %.4g s, limit %.0e" % (p3["worst"], p3["worst_time"],
                                                    PROCESS3_TOLERANCE))
    return ar.finish(failures)


if __name__ == "__main__":
    sys.exit(main())
