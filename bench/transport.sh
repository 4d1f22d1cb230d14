#!/bin/bash
# Transport benchmark: starts the test servers, fills the POP3 mailboxes, runs bench_transport
# (C++) and the same work with Python's smtplib/poplib in the same run, prints medians and
# ratios, and stops the servers by their PIDs.
#
#   bench/transport.sh [BENCH_BINARY] [REPETITIONS]   environment: WORKS (space-separated
#   subset of the works below)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${1:-$ROOT/build/bench/bench/bench_transport}"
REPS="${2:-5}"
[ -x "$BIN" ] || { echo "transport.sh: build $BIN first (make bench)" >&2; exit 1; }
SERVER_DIR="$(dirname "$BIN")"
for server in smtp_sink pop3_server; do
  [ -x "$SERVER_DIR/$server" ] || { echo "transport.sh: build $SERVER_DIR/$server first (make bench)" >&2; exit 1; }
done
ENVF="$(mktemp /tmp/norvane-bench-env.XXXXXX)"
D="$(bash "$ROOT/tests/servers/start.sh" "$ENVF")"
FAST_PIDS=()
FAST_OUT="$(mktemp -d /tmp/norvane-bench-fast.XXXXXX)"
cleanup() {
  for p in "${FAST_PIDS[@]:-}"; do [ -n "$p" ] && kill -TERM "$p" 2>/dev/null; done
  bash "$ROOT/tests/servers/stop.sh" "$D"
  rm -rf "$ENVF" "$FAST_OUT"
}
trap cleanup EXIT

# The fast servers, stopped by their PIDs.
start_fast() {  # start_fast PROGRAM ENV_KEY
  "$SERVER_DIR/$1" 0 > "$FAST_OUT/$1" 2>/dev/null < /dev/null &
  FAST_PIDS+=($!)
  for _ in $(seq 1 100); do grep -q '^PORT ' "$FAST_OUT/$1" && break; sleep 0.05; done
  echo "$2=$(sed -n 's/^PORT //p' "$FAST_OUT/$1")" >> "$ENVF"
}
start_fast smtp_sink FAST_SINK_PORT
start_fast pop3_server FAST_POP3_PORT

# 1,000 small messages for "bench", one 20 MB message for "erin".
/usr/bin/python3 - "$D/mail" <<'PY'
import os, pwd, sys
root = sys.argv[1]
pw = pwd.getpwnam("dovecot")
def put(user, name, data):
    path = os.path.join(root, user, "Maildir", "new", name)
    with open(path, "wb") as f:
        f.write(data)
    os.chown(path, pw.pw_uid, pw.pw_gid)
for i in range(1000):
    put("bench", "%06d.m" % i, b"From: a@test.invalid\r\nSubject: m %d\r\n\r\n" % i
        + b"A small message line.\r\n" * 20)
line = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\r\n"
put("erin", "big.m", b"From: a@test.invalid\r\nSubject: big\r\n\r\n" + line * (20 * 1024 * 1024 // len(line)))
PY
# Let the writes of the fill settle, so that the first work does not pay for them.
sync
sleep 1

# Each work runs for C++ and then for Python before the next work starts, so that both meet
# the servers (and the machine's other load) in the same state.
CPP_JSON="$(mktemp /tmp/norvane-bench-cpp.XXXXXX)"
PY_JSON="$(mktemp /tmp/norvane-bench-py.XXXXXX)"
ALL_WORKS="SmtpSend1000 SmtpSend1000Fast SmtpSendEmail1000Fast Pop3Fetch1000 Pop3Fetch1000Fast
  Pop3RetrMany1000 Pop3RetrMany1000Fast Pop3Fetch20MB Pop3TlsFetch20MB SendBundle SendBundleFast
  TransferMail SendEmail1000Exim SendEmail100EximNoReuse SmtpSessions50 SmtpStartTlsSessions50"
for work in ${WORKS:-$ALL_WORKS}; do
  NORVANE_TRANSPORT_ENV="$ENVF" nice -n 10 "$BIN" --benchmark_filter="^$work/" \
    --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true \
    --benchmark_format=json >> "$CPP_JSON.$work"
  nice -n 10 /usr/bin/python3 "$ROOT/bench/transport_python.py" "$ENVF" "$REPS" "$work" >> "$PY_JSON"
done
/usr/bin/python3 - "$CPP_JSON" "$PY_JSON" <<'PY'
import glob, json, sys
merged = {"benchmarks": []}
for f in sorted(glob.glob(sys.argv[1] + ".*")):
    merged["benchmarks"] += json.load(open(f))["benchmarks"]
json.dump(merged, open(sys.argv[1], "w"))
py = {}
for line in open(sys.argv[2]):
    d = json.loads(line)
    py["peak_rss_mb"] = max(py.get("peak_rss_mb", 0), d.pop("peak_rss_mb"))
    py.update(d)
json.dump(py, open(sys.argv[2], "w"))
PY
rm -f "$CPP_JSON".*
/usr/bin/python3 - "$CPP_JSON" "$PY_JSON" <<'PY'
import json, sys
cpp = json.load(open(sys.argv[1]))
py = json.load(open(sys.argv[2]))
med = {}
cpu = {}
rss = {}
for b in cpp["benchmarks"]:
    name = b["run_name"].split("/")[0]
    if b.get("aggregate_name") == "median":
        med[name] = b["real_time"] / 1000.0  # ms -> s
        # The mail manager works measure the process's CPU around the call themselves.
        cpu[name] = b.get("client_cpu_s", b["cpu_time"] / 1000.0)
        if "peak_rss_mb" in b:
            rss[name] = b["peak_rss_mb"]
print("%-21s %12s %12s %7s   %14s %14s %7s" % ("work", "C++ wall", "Python wall", "ratio",
                                                "C++ CPU", "Python CPU", "ratio"))
for name, unit in [("SmtpSend1000", "msg/s"), ("SmtpSend1000Fast", "msg/s"),
                   ("SmtpSendEmail1000Fast", "msg/s"),
                   ("Pop3Fetch1000", "msg/s"), ("Pop3Fetch1000Fast", "msg/s"),
                   ("Pop3RetrMany1000", "msg/s"), ("Pop3RetrMany1000Fast", "msg/s"),
                   ("Pop3Fetch20MB", "MB/s"), ("Pop3TlsFetch20MB", "MB/s"),
                   ("SendBundle", "msg/s"), ("SendBundleFast", "msg/s"),
                   ("TransferMail", "msg/s"), ("SendEmail1000Exim", "msg/s"),
                   ("SendEmail100EximNoReuse", "msg/s"), ("SmtpSessions50", "ses/s"),
                   ("SmtpStartTlsSessions50", "ses/s")]:
    if name not in med:
        continue
    amount = (100 if name == "SendEmail100EximNoReuse" else 1000 if unit == "msg/s"
              else 50 if unit == "ses/s" else 20)
    c, p = amount / med[name], amount / py[name][0]
    cc, pc = cpu[name], py[name][1]
    print("%-21s %7.1f %-5s %6.1f %-5s %6.2fx   %11.3f s %11.3f s %6.2fx"
          % (name, c, unit, p, unit, c / p, cc, pc, pc / cc))
print("wall = the whole exchange with the server; CPU = the client process's own time")
if "SmtpSessions50" in med and "SmtpStartTlsSessions50" in med:
    c = (med["SmtpStartTlsSessions50"] - med["SmtpSessions50"]) / 50 * 1000
    p = (py["SmtpStartTlsSessions50"][0] - py["SmtpSessions50"][0]) / 50 * 1000
    print("STARTTLS set-up per session (TLS session minus clear one): C++ %.2f ms, Python %.2f ms"
          % (c, p))
for name in sorted(rss):
    print("peak RSS of the C++ process for %s: %.1f MB" % (name, rss[name]))
print("peak RSS of the Python process (all works): %.1f MB" % py["peak_rss_mb"])
PY
rm -f "$CPP_JSON" "$PY_JSON"
