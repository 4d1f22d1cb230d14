#!/usr/bin/env bash
# A short demonstration of nvmail:   demo.sh path/to/nvmail [OUTDIR]
# Composes an e-mail with a text and an HTML body, an inline image and a PDF attachment from
# the sample files, renders it to MIME, then reads it back with `nvmail show` and saves the
# attachment with `nvmail extract`. The message and the saved files stay in OUTDIR (default
# build/demo, emptied first) for a look afterwards.
set -euo pipefail
nvmail=$(realpath "${1:?usage: demo.sh path/to/nvmail [OUTDIR]}")
here=$(cd "$(dirname "$0")/.." && pwd)
sample="$here/tools/nvmail/sample"
out=${2:-$here/build/demo}
rm -rf "$out"
mkdir -p "$out"
out=$(realpath "$out")

# Bold headings only on a terminal, and not when NO_COLOR is set.
if [[ -t 1 && -z "${NO_COLOR:-}" && "${TERM:-}" != dumb ]]; then
  step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
else
  step() { printf '\n== %s\n' "$*"; }
fi

step "nvmail compose: text + HTML body, inline logo, PDF attachment"
set -x
"$nvmail" compose \
    --from "Norvane Demo <demo@example.com>" \
    --to "Ann Lee <ann@example.com>" --cc "Jürgen Müller <jm@example.com>" \
    --subject "Quarterly report — café opening in Köln" \
    --text "$sample/message.txt" --html "$sample/message.html" \
    --inline "$sample/logo.png" --attach "$sample/report.pdf" \
    -o "$out/demo.eml"
{ set +x; } 2>/dev/null

step "The rendered MIME text ($(wc -c <"$out/demo.eml") bytes; first 45 lines)"
head -n 45 "$out/demo.eml"
echo "[...]"

step "nvmail show demo.eml"
"$nvmail" show "$out/demo.eml"

step "nvmail extract --inline demo.eml files/"
"$nvmail" extract --inline "$out/demo.eml" "$out/files"
cmp "$out/files/report.pdf" "$sample/report.pdf" && echo "report.pdf is byte-identical to the sample"
cmp "$out/files/logo.png" "$sample/logo.png" && echo "logo.png is byte-identical to the sample"

step "Left for you to open"
echo "  the message:        $out/demo.eml"
echo "  its saved files:    $out/files/"
echo "  the program:        $nvmail   (--help lists its commands)"
