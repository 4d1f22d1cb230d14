#!/usr/bin/env bash
# Peak memory and wall time of every nvmail command on one large attachment.
#
#   bench/nvmail_memory.sh [NVMAIL] [SIZE_MB] [random|text]
#
# Builds an attachment of SIZE_MB (default 200) megabytes, random bytes (default) or a text
# log that compresses well, runs compose, show, extract, to-xml, from-xml, zip-attachments and
# unzip-attachments on it under /usr/bin/time -v, checks that the attachment comes back
# byte-identical, and prints one table row per command with the peak resident set size and
# its ratio to the attachment. The target is a peak of at most 4 times the attachment.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
nvmail=$(realpath "${1:-$root/build/release/tools/nvmail}")
size_mb=${2:-200}
kind=${3:-random}
[[ -x "$nvmail" ]] || { echo "nvmail_memory.sh: build $nvmail first (make release)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "nvmail_memory.sh: needs /usr/bin/time (package time)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/nvmail-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

att="$work/big.bin"
if [[ "$kind" == text ]]; then
  python3 - "$att" "$size_mb" <<'PY'
import sys
path, mb = sys.argv[1], int(sys.argv[2])
line = "2026-12-07T04:55:%02d.%06dZ worker-%d INFO request handled status=200 bytes=%d\n"
with open(path, "w") as f:
    n, i = 0, 0
    while n < mb * 1000000:
        s = line % (i % 60, i % 1000000, i % 7, i % 4096)
        f.write(s)
        n += len(s)
        i += 1
PY
else
  head -c "$((size_mb * 1000000))" /dev/urandom >"$att"
fi
att_bytes=$(stat -c %s "$att")

printf '%-20s %9s %11s %7s\n' command "wall s" "peak MB" "x att"
run() { # run LABEL ARGS...
  local label=$1
  shift
  if ! /usr/bin/time -v -o "$work/time" "$nvmail" "$@" >"$work/stdout" 2>"$work/stderr"; then
    echo "nvmail_memory.sh: nvmail $* failed:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  local kb wall
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
  awk -v l="$label" -v kb="$kb" -v w="$wall" -v a="$att_bytes" 'BEGIN {
    n = split(w, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i];
    printf "%-20s %9.2f %11.1f %7.2f\n", l, s, kb * 1024 / 1e6, kb * 1024 / a }'
}

run compose compose --from a@example.com --to b@example.com --text-string hi \
  --attach "$att" -o "$work/big.eml"
run show show "$work/big.eml"
run extract extract "$work/big.eml" "$work/out"
run to-xml to-xml "$work/big.eml" "$work/big.xml"
run from-xml from-xml "$work/big.xml" "$work/back.eml"
run zip-attachments zip-attachments "$work/big.eml" "$work/z.eml"
run unzip-attachments unzip-attachments "$work/z.eml" "$work/u.eml"
run extract-unzipped extract "$work/u.eml" "$work/out2"
cmp "$att" "$work/out/big.bin"
cmp "$att" "$work/out2/big.bin"
echo "attachment: $att_bytes bytes ($kind); extracted copies are byte-identical"
