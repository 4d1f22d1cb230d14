#!/bin/bash
# Receive limits of the POP3 session, measured once (too slow for the test suite: the 20 MB
# fetch at 100 KB/s alone takes about 205 s). Starts the test servers, a rate-limited loopback
# proxy in front of Dovecot and a scripted peer with an endless LIST, runs bench_transport_limits
# (each work in a process of its own), prints the figures, and stops everything by PID.
#
#   bench/transport_limits.sh [BENCH_BINARY] [WORK ...]   (default: both works)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${1:-$ROOT/build/bench/bench/bench_transport_limits}"
shift || true
if [ $# -gt 0 ]; then WORKS=("$@"); else WORKS=(Pop3List2MRefused Pop3Fetch20MBAt100KBps); fi
[ -x "$BIN" ] || { echo "transport_limits.sh: build $BIN first (make bench)" >&2; exit 1; }
ENVF="$(mktemp /tmp/norvane-limits-env.XXXXXX)"
WORK="$(mktemp -d /tmp/norvane-limits.XXXXXX)"
D="$(bash "$ROOT/tests/servers/start.sh" "$ENVF")"
PIDS=()
cleanup() {
  # The scripted peer ends with its one connection: a failed kill is no error.
  for p in "${PIDS[@]:-}"; do [ -n "$p" ] && kill -TERM "$p" 2>/dev/null || true; done
  bash "$ROOT/tests/servers/stop.sh" "$D"
  rm -rf "$ENVF" "$WORK"
}
trap cleanup EXIT

start_helper() {  # start_helper ENV_KEY COMMAND...
  local key="$1"; shift
  "$@" > "$WORK/$key.out" 2>/dev/null < /dev/null &
  PIDS+=($!)
  for _ in $(seq 1 100); do grep -q '^PORT ' "$WORK/$key.out" && break; sleep 0.05; done
  echo "$key=$(sed -n 's/^PORT //p' "$WORK/$key.out")" >> "$ENVF"
}

# One 20 MB message for "erin".
/usr/bin/python3 - "$D/mail" <<'PY'
import os, pwd, sys
pw = pwd.getpwnam("dovecot")
md = os.path.join(sys.argv[1], "erin", "Maildir")
for sub in ("new", "cur"):
    for f in os.listdir(os.path.join(md, sub)):
        os.remove(os.path.join(md, sub, f))
line = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\r\n"
path = os.path.join(md, "new", "big.m")
with open(path, "wb") as f:
    f.write(b"From: a@test.invalid\r\nSubject: big\r\n\r\n" + line * (20 * 1024 * 1024 // len(line)))
os.chown(path, pw.pw_uid, pw.pw_gid)
PY
POP3_PORT="$(sed -n 's/^POP3_PORT=//p' "$ENVF")"
start_helper SLOW_PROXY_PORT /usr/bin/python3 "$ROOT/bench/slow_proxy.py" "$POP3_PORT" 102400

# Login, then a LIST of 2,000,000 entries (twice the cap).
cat > "$WORK/list.json" <<'JSON'
[[["send", "+OK ready\r\n"], ["line"], ["send", "+OK\r\n"], ["line"], ["send", "+OK\r\n"],
  ["line"], ["send", "+OK 2000000 200000000\r\n"], ["line"], ["send", "+OK\r\n"],
  ["seq", "%d 100\r\n", 2000000], ["send", ".\r\n"], ["drain"]]]
JSON
start_helper LIST_PORT /usr/bin/python3 "$ROOT/tests/servers/scripted.py" \
  --script "$WORK/list.json" --received "$WORK/list.received"

for work in "${WORKS[@]}"; do
  NORVANE_TRANSPORT_ENV="$ENVF" "$BIN" --benchmark_filter="^$work/" --benchmark_counters_tabular=true
done
