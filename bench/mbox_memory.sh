#!/usr/bin/env bash
# Wall time and peak memory of loading a large mailbox file with the mail manager.
#
#   bench/mbox_memory.sh [NVMAIL] [MESSAGES] [BIG_EVERY] [BIG_MB]
#
# Writes a mailbox file of MESSAGES (default 20000) small text messages, every BIG_EVERY-th
# (default 100) carrying a BIG_MB (default 4) megabyte attachment in base64 (about 1.1 GB in
# all with the defaults), then runs `nvmail mbox` on it under /usr/bin/time -v. The listing is
# checked for one row per message; the table gives the file size, the largest message, the
# wall time and the peak resident set size. The loader keeps every message in the bundle it
# returns, so the peak is the bundle plus what the split holds at once: about the largest
# message, never the file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
nvmail=$(realpath "${1:-$root/build/release/tools/nvmail}")
messages=${2:-20000}
big_every=${3:-100}
big_mb=${4:-4}
[[ -x "$nvmail" ]] || { echo "mbox_memory.sh: build $nvmail first (make release)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "mbox_memory.sh: needs /usr/bin/time (package time)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/mbox-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

largest=$(python3 - "$work/big.mbox" "$messages" "$big_every" "$big_mb" <<'PY'
import base64, os, sys
path, count, every, mb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
blob = base64.encodebytes(os.urandom(mb * 1000000))
text = "".join("Line %d of a plain message, long enough to look like mail text.\n" % i
               for i in range(40))
largest = 0
with open(path, "wb") as f:
    for i in range(count):
        head = ("From sender%d@example.com Mon Jan  1 00:00:00 2001\n"
                "From: sender%d@example.com\nTo: rcpt@example.com\nSubject: message %d\n"
                "Date: Mon, 01 Jan 2001 00:00:00 +0000\nMIME-Version: 1.0\n" % (i, i, i))
        if i % every == 0:
            body = ('Content-Type: multipart/mixed; boundary="b"\n\n--b\n'
                    "Content-Type: text/plain\n\n" + text + "\n--b\n"
                    "Content-Type: application/octet-stream\n"
                    'Content-Transfer-Encoding: base64\n'
                    'Content-Disposition: attachment; filename="data.bin"\n\n').encode()
            body += blob + b"--b--\n"
        else:
            body = ("Content-Type: text/plain\n\n" + text).encode()
        msg = head.encode() + body + b"\n"
        largest = max(largest, len(msg))
        f.write(msg)
print(largest)
PY
)
file_bytes=$(stat -c %s "$work/big.mbox")

/usr/bin/time -v -o "$work/time" "$nvmail" mbox "$work/big.mbox" >"$work/list"
rows=$(($(wc -l <"$work/list") - 1))
[[ $rows -eq $messages ]] || { echo "mbox_memory.sh: $rows messages listed, $messages written" >&2; exit 1; }
kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
awk -v f="$file_bytes" -v m="$largest" -v kb="$kb" -v w="$wall" -v n="$messages" 'BEGIN {
  k = split(w, p, ":"); s = 0; for (i = 1; i <= k; i++) s = s * 60 + p[i];
  printf "%-10s %10s %12s %8s %9s %8s\n", "messages", "file MB", "largest MB", "wall s", "peak MB", "x file"
  printf "%-10d %10.1f %12.2f %8.2f %9.1f %8.2f\n", n, f / 1e6, m / 1e6, s, kb * 1024 / 1e6, kb * 1024 / f }'
