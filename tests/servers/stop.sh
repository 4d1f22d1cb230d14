#!/bin/bash
# Stops the servers start.sh started, by the PIDs recorded in their state directory (never by
# name), and removes the directory.
#
#   stop.sh STATE_DIR | ENV_FILE
set -uo pipefail
arg="${1:-}"
if [ -f "$arg" ]; then D="$(sed -n 's/^STATE_DIR=//p' "$arg")"; else D="$arg"; fi
[ -n "$D" ] && [ -d "$D" ] || { echo "stop.sh: no state directory ($arg)" >&2; exit 0; }

# A killed daemon whose parent does not reap it stays a zombie; that counts as gone.
alive() { [ -r "/proc/$1/stat" ] && ! awk '{exit !($3=="Z")}' "/proc/$1/stat" 2>/dev/null; }
pids=()
for f in "$D/dovecot/run/master.pid" "$D/exim-cyrus/exim.pid" "$D/exim-spa/exim.pid" "$D/sink.pid"; do
  [ -s "$f" ] || continue
  p=$(head -n1 "$f" | tr -dc 0-9)
  [ -n "$p" ] && alive "$p" && { kill -TERM "$p" 2>/dev/null; pids+=("$p"); }
done
for _ in $(seq 1 100); do
  left=()
  for p in "${pids[@]:-}"; do [ -n "$p" ] && alive "$p" && left+=("$p"); done
  [ ${#left[@]} -eq 0 ] && break
  sleep 0.05
done
for p in "${left[@]:-}"; do [ -n "$p" ] && kill -KILL "$p" 2>/dev/null; done
case "$D" in /tmp/norvane-servers.*) rm -rf "$D";; esac
[ $# -ge 1 ] && [ -f "$arg" ] && rm -f "$arg"
exit 0
