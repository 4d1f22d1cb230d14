#!/usr/bin/env bash
# A short demonstration of nvmail; the argument is the nvmail program.
set -euo pipefail
nvmail=${1:?usage: demo.sh path/to/nvmail}
"$nvmail" log-demo
