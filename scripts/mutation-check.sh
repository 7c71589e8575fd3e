#!/usr/bin/env bash
# Mutation check: has every physics term a test that fails without it? Applies, one at a time,
# a small change to a physics line of either front door to a copy of the working tree in
# build-mutation/source, rebuilds build-mutation/build incrementally and runs the tests other
# than the golden cases and the fast-form comparisons (those compare the program with itself):
# fast groups first, stopping at the first failure. The check fails if a change is caught by no
# test, if a change's text is not found exactly once (so that it cannot silently test nothing)
# or does not build, and if a test that caught a change fails without it too.
#
# The test command's `mutation` stage runs it (all of it: about 4 minutes of changes after a
# first build of the copy of 5 on the shared 2-core machine).
# Usage: scripts/mutation-check.sh [--list] [NAME...]   every change, or the named ones
set -euo pipefail
cd "$(dirname "$0")/.."

names=()
files=()
olds=()
news=()
# NAME FILE TEXT REPLACEMENT: TEXT must occur exactly once in FILE.
mutation() { names+=("$1"); files+=("$2"); olds+=("$3"); news+=("$4"); }

mutation kelvin-factor src/growth/growth.cpp \
  'std::exp(in.surfaceTension * in.molecularWeight * 4.0 /' \
  'std::exp(in.surfaceTension * in.molecularWeight * 2.0 /'
mutation kernel-prefactor src/engine/free_molecular_table.cpp \
  'std::pow(T * 6.0 * kBoltzmann / setup_.collision.density, 0.5)' \
  'std::pow(T * 3.0 * kBoltzmann / setup_.collision.density, 0.5)'
mutation mean-free-path src/coagulation/collision_kernel.cpp \
  'std::sqrt(T * kPi * kGasConstant / (2.0 * g.molarMass))' \
  'std::sqrt(T * kPi * kGasConstant / (g.molarMass))'
mutation split-fractions src/coagulation/node_grid.cpp \
  'split.lowFraction[p] = (v[k + 1] - v[i] - v[j]) / (v[k + 1] - v[k]);' \
  'split.lowFraction[p] = (v[k + 1] - v[i] - v[j]) / v[k + 1];'
mutation nucleation-exponent src/nucleation/nucleation.cpp \
  '4 * std::pow(theta, 3) / (27 * std::pow(lnS, 2))' \
  '4 * std::pow(theta, 3) / (26 * std::pow(lnS, 2))'
mutation nucleation-monomers src/model/nucleation_part.cpp \
  'ydot[0] = ydot[0] - J * st.criticalSize;' \
  'ydot[0] = ydot[0] - 2.0 * J * st.criticalSize;'
mutation growth-uptake src/growth/growth.cpp \
  'uptake = uptake + (N1 - Ks[k - 1]) * beta[k - 1] * N[k - 1];' \
  'uptake = uptake + (N1 - Ks[k - 1]) * beta[k] * N[k - 1];'
mutation evaporation-release src/model/growth_part.cpp \
  'release = release + rates_.growthLoss[2];' \
  'release = release + 0.5 * rates_.growthLoss[2];'
mutation saturation-pressure src/nucleation/nucleation.cpp \
  'st.saturationPressure = std::exp(m.vaporPressureC - m.vaporPressureD / T) *' \
  'st.saturationPressure = 1.01 * std::exp(m.vaporPressureC - m.vaporPressureD / T) *'
mutation coagulation-jacobian src/model/coagulation_part.cpp \
  'column[i - 1] -= L;' \
  'column[i - 1] -= 0.5 * L;'
mutation sintering-time src/properties/aggregates.cpp \
  'tau = prefactor * d * arrhenius;' \
  'tau = 2.0 * prefactor * d * arrhenius;'
mutation wall-sherwood src/properties/transport_constants.h \
  'kLaminarTubeSherwood = 3.66;' \
  'kLaminarTubeSherwood = 3.7;'
mutation dilution-rate src/model/dilution_part.cpp \
  'rate_.at(time)' \
  'rate_.at(0.0)'

if [ "${1:-}" = --list ]; then
  for i in "${!names[@]}"; do printf '%-22s %s\n' "${names[$i]}" "${files[$i]}"; done
  exit 0
fi
chosen=("$@")
[ ${#chosen[@]} -gt 0 ] || chosen=("${names[@]}")
for name in "${chosen[@]}"; do
  case " ${names[*]} " in
    *" $name "*) ;;
    *) echo "mutation-check: no change named $name" >&2; exit 2 ;;
  esac
done

work=build-mutation
src=$work/source
build=$work/build
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2
mkdir -p "$src"
start=$(date +%s)

# The copy follows the working tree (tracked and untracked files that git does not ignore);
# only files that differ are copied, so the build stays incremental.
git ls-files -co --exclude-standard | sort >"$work/files"
(cd "$src" && find . -type f | sed 's|^\./||' | sort) >"$work/copied"
comm -13 "$work/files" "$work/copied" | (cd "$src" && xargs -r -d '\n' rm -f)
while IFS= read -r f; do
  [ -f "$f" ] || continue
  if ! cmp -s "$f" "$src/$f"; then
    mkdir -p "$src/$(dirname "$f")"
    cp "$f" "$src/$f"
  fi
done <"$work/files"

build_copy() {
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DAEROSOL_BUILD_TESTS=ON \
    -DAEROSOL_BUILD_BENCH=OFF >"$work/configure.log" 2>&1 &&
    cmake --build "$build" -j"$jobs" >"$work/build.log" 2>&1
}
if ! build_copy; then
  tail -n 30 "$work/configure.log" "$work/build.log" >&2
  echo "mutation-check: the unchanged copy does not build" >&2
  exit 1
fi

# The groups, fast ones first: each is "ctest arguments".
groups=("-L ^unit$"
        "-R ^simulate\.[A-Z]"
        "-L ^runs$"
        "-L ^validation$"
        "-LE ^(golden|reference|unit|runs|validation)$ -E ^simulate\.[A-Z]")

# Runs the groups until one fails; prints the failed tests as "NUMBER NAME" lines.
run_tests() {
  local group out
  set -f  # the groups' patterns are ctest's, not the shell's
  for group in "${groups[@]}"; do
    # shellcheck disable=SC2086
    out=$(cd "$build" && ctest -j"$jobs" --stop-on-failure $group 2>&1) && continue
    # ctest's lists: "  12 - Name (Failed)", or Timeout, SEGFAULT, ...; not the skipped.
    printf '%s\n' "$out" | sed -n -E 's/^[[:space:]]*([0-9]+) - ([^ ]+) \(([A-Za-z ]+)\)$/\1 \2 \3/p' |
      { grep -v -E ' (Skipped|Disabled|Not Run)$' || true; } | cut -d' ' -f1,2
    break
  done
  set +f
}

apply() {  # FILE TEXT REPLACEMENT
  python3 - "$src/$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1:]
with open(path) as f:
    text = f.read()
count = text.count(old)
if count != 1:
    sys.exit("mutation-check: %s: the text to change occurs %d times, not once: %r"
             % (path, count, old))
with open(path, "w") as f:
    f.write(text.replace(old, new))
EOF
}

failed=0
catchers=()
summary=()
for i in "${!names[@]}"; do
  name=${names[$i]}
  case " ${chosen[*]} " in *" $name "*) ;; *) continue ;; esac
  file=${files[$i]}
  began=$(date +%s)
  apply "$file" "${olds[$i]}" "${news[$i]}" || exit 1
  if ! build_copy; then
    cp "$file" "$src/$file"
    tail -n 30 "$work/build.log" >&2
    echo "mutation-check: $name does not build" >&2
    exit 1
  fi
  caught=$(run_tests)
  cp "$file" "$src/$file"
  seconds=$(( $(date +%s) - began ))
  if [ -z "$caught" ]; then
    summary+=("$(printf '%-22s NOT CAUGHT (%d s)' "$name" "$seconds")")
    failed=1
  else
    summary+=("$(printf '%-22s caught by %s (%d s)' "$name" \
      "$(printf '%s\n' "$caught" | cut -d' ' -f2- | paste -sd, | sed 's/,/, /g')" "$seconds")")
    while IFS= read -r line; do catchers+=("${line%% *}"); done <<<"$caught"
  fi
  echo "mutation-check: ${summary[-1]}" >&2
done

# Every test that caught a change passes without it.
if [ ${#catchers[@]} -gt 0 ]; then
  if ! build_copy; then
    echo "mutation-check: the restored copy does not build" >&2
    exit 1
  fi
  numbers=$(printf '%s\n' "${catchers[@]}" | sort -un | paste -sd,)
  if ! (cd "$build" && ctest -j"$jobs" -I "0,0,0,$numbers" >"../restored.log" 2>&1); then
    cat "$work/restored.log" >&2
    echo "mutation-check: tests that caught a change fail without it too" >&2
    failed=1
  fi
fi

echo "mutation-check: summary ($(( $(date +%s) - start )) s)" >&2
printf '  %s\n' "${summary[@]}" >&2
if [ $failed -ne 0 ]; then
  echo "mutation-check: FAILED" >&2
  exit 1
fi
echo "mutation-check: every change was caught" >&2
