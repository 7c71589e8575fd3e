#!/usr/bin/env bash
# Writes one regression case folder: make-case.sh NAME NODES T0 RATE PROCESS KERNEL [key=value ...]
# Material keys: mw rho A B C D P sa sb; coag.inp keys: d0 n0 tc; grow.inp keys: seed conc.
set -euo pipefail
name=$1 n=$2 t0=$3 rate=$4 process=$5 kernel=$6
shift 6
mw=0.1 rho=2000 A=500 B=0.2 C=10 D=30000 P=1 sa=1.458e-6 sb=110.4
d0="" n0="" tc="" seed="" conc=""
for kv in "$@"; do eval "$kv"; done
dir="$(dirname "$0")/cases/$name"
mkdir -p "$dir"
cat > "$dir/main.inp" <<INP
Number of nodes: $n
Starting Temperature(Kelvin): $t0
Cooling Rate(Kelvin/s): $rate
Pressure(Atm): $P
Molecular Weight(Kg/mol): $mw
Density(Kg/m3): $rho
Surface Tension in the form A-BT(dyne/cm): A=$A B=$B
Saturation Vapor Pressure of material in form Ps=exp(C-D/T)P: C=$C D=$D
Enter your choice - 1)Coagulation,2)nucleation+coagulation,3)nucleation + coagulation + surface growth,4)surface growth:$process
Choice of collision frequency function:1)Free Molecular Regime,2)Fuchs form for free molecular and transition regime:$kernel
Sutherland's constants for carrier gas in the form A*T^1.5/(B+T): A=$sa B=$sb
INP
if [ -n "$d0" ]; then
  printf '\n Initial diameter of monodisperse particles(nm): %s\n Initial number concentration(#/m3): %s\n Temperature(Kelvin): %s\n' "$d0" "$n0" "$tc" > "$dir/coag.inp"
fi
if [ -n "$seed" ]; then
  printf 'Enter the node in which you want to put in particles:%s\nEnter the particle number concentration in #/m3 initially:%s\n' "$seed" "$conc" > "$dir/grow.inp"
fi
