#!/usr/bin/env bash
# A short demonstration of nvmail; the argument is the nvmail program.
# Composes an e-mail with a text and an HTML body, an inline image and a PDF attachment from
# the sample files, renders it to MIME, then reads it back with `nvmail show` and saves the
# attachment with `nvmail extract`.
set -euo pipefail
nvmail=$(realpath "${1:?usage: demo.sh path/to/nvmail}")
here=$(cd "$(dirname "$0")/.." && pwd)
sample="$here/tools/nvmail/sample"
out=$(mktemp -d "${TMPDIR:-/tmp}/nvmail-demo.XXXXXX")
trap 'rm -rf "$out"' EXIT

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

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

step "nvmail extract demo.eml files/ --inline"
"$nvmail" extract --inline "$out/demo.eml" "$out/files"
cmp "$out/files/report.pdf" "$sample/report.pdf" && echo "report.pdf is byte-identical to the sample"
cmp "$out/files/logo.png" "$sample/logo.png" && echo "logo.png is byte-identical to the sample"
