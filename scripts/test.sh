#!/usr/bin/env bash
# `make test`: installs what the tests need, builds under AddressSanitizer and UBSan, runs every
# test suite with CTest and ends with one summary line. The exit status is CTest's (non-zero
# when a suite fails), and CTest's own closing lines are kept as they are.
#
# It also builds the optimised tree a user's plain CMake build makes, tests included, with
# warnings as errors: some GCC warnings (-Wrestrict, -Wstringop-overflow, -Wmaybe-uninitialized)
# appear only when the optimiser runs, and a user's build must not meet them first.
#
#   scripts/test.sh [BUILD_DIR [RELEASE_BUILD_DIR]]   environment: JOBS (default: all cores), VERBOSE=1
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/test}
release_build=${2:-build/release-tests}
jobs=${JOBS:-$(nproc)}
verbose=${VERBOSE:-}
# CMake turns on verbose builds when VERBOSE is merely defined, even empty.
unset VERBOSE
cd "$root"
started=$SECONDS

if [[ -t 1 && -z "${NO_COLOR:-}" && "${TERM:-}" != dumb ]]; then
  tty=1
  b=$'\033[1m' r=$'\033[0m'
else
  tty=""
  b="" r=""
fi

cat <<EOF
${b}make test${r}: installs the packages the tests need (the first time; see scripts/packages.txt),
builds the library, nvmail and the test programs under AddressSanitizer and UBSan and once more
optimised (warnings are errors in both), starts mail servers on 127.0.0.1 for the transport
suites, and runs every test suite with CTest.
A first run takes about 12 minutes on a 2-core machine. VERBOSE=1 shows every build command.
EOF

bash scripts/setup.sh || exit 1
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
  -DNORVANE_SANITIZE=ON -DNORVANE_BENCH=OFF -DNORVANE_WERROR=ON >/dev/null || exit 1

# A build: every line with VERBOSE, otherwise one progress line (updated in place on a
# terminal, every tenth on a log) and whatever is not routine, such as compiler messages.
quiet_build() {
  local dir=$1 what=$2 log="$1/build.log" status
  if [[ -n "$verbose" ]]; then
    cmake --build "$dir" -j"$jobs" --verbose
    status=$?
  else
    cmake --build "$dir" -j"$jobs" 2>&1 | tee "$log" | awk -v tty="$tty" -v what="$what" '
      /^\[ *[0-9]+%\] / {
        pct = $0; sub(/^\[ */, "", pct); sub(/%.*/, "", pct); pct += 0
        if (tty) { printf "\rbuilding %s: %3d%%", what, pct; fflush(); shown = 1 }
        else if (pct >= next_pct) { printf "building %s: %d%%\n", what, pct; fflush(); next_pct = pct - pct % 10 + 10 }
        next
      }
      /^(Consolidate compiler generated dependencies|Scanning dependencies) / { next }
      { if (shown) { printf "\n"; shown = 0 } print; fflush() }
      END { if (shown) printf "\n" }'
    status=${PIPESTATUS[0]}
  fi
  if [[ $status -ne 0 ]]; then
    echo "make test: the $what build failed (every line of it: $log)"
    exit "$status"
  fi
}

quiet_build "$build" "sanitizer"
cmake -S . -B "$release_build" -DCMAKE_BUILD_TYPE=Release -DNORVANE_WERROR=ON >/dev/null || exit 1
quiet_build "$release_build" "optimised"

results="$build/ctest.log"
(cd "$build" && ctest --output-on-failure -j"$jobs") 2>&1 | tee "$results"
status=${PIPESTATUS[0]}

elapsed=$((SECONDS - started))
line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$results" | tail -n 1)
if [[ -n "$line" ]]; then
  failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* tests failed out of ([0-9]+).*/\1/' <<<"$line")
  printf '%smake test: %d suites passed, %d failed (of %d) in %dm%02ds%s\n' "$b" \
    $((total - failed)) "$failed" "$total" $((elapsed / 60)) $((elapsed % 60)) "$r"
else
  echo "${b}make test: CTest did not finish (status $status)${r}"
  [[ $status -ne 0 ]] || status=1
fi
exit "$status"
