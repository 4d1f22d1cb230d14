#!/usr/bin/env bash
# The test python.package: a fresh virtual environment in the build tree, the package
# pip-installed into it offline from BUILD_DIR/python (the README's command), then pytest on
# this folder with that environment's interpreter.
#
#   run.sh BUILD_DIR EMAIL_DUMP [SANITIZER_COMPILER] [pytest arguments...]
#
# With SANITIZER_COMPILER (the compiler of an ASan/UBSan build) the library needs the sanitizer
# runtimes loaded before anything else in the process, which a plain python3 does not link:
# they are preloaded from that compiler's installation. Leak checking stays off, since the
# interpreter itself keeps memory until exit.
set -euo pipefail
build=$(cd "$1" && pwd) dump=$(realpath "$2") compiler=${3:-}
shift $(($# < 3 ? $# : 3))
here=$(cd "$(dirname "$0")" && pwd)
venv=$build/python-venv
export PIP_DISABLE_PIP_VERSION_CHECK=1 PYTHONDONTWRITEBYTECODE=1

# pip builds in the package's folder; a build left there by an earlier run could carry stale
# files into the new one.
rm -rf "$venv" "$build/python/build" "$build/python/norvane.egg-info"
# Debian's interpreter: its site packages (pytest, setuptools) are the ones the lists install.
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --quiet --no-build-isolation --no-index "$build/python"

export NORVANE_EMAIL_DUMP=$dump
if [[ -n $compiler ]]; then
  LD_PRELOAD=""
  for runtime in libasan.so libubsan.so; do
    path=$("$compiler" -print-file-name=$runtime)
    [[ -f $path ]] || { echo "run.sh: $compiler has no $runtime" >&2; exit 1; }
    LD_PRELOAD+="${LD_PRELOAD:+ }$path"
  done
  export LD_PRELOAD ASAN_OPTIONS=detect_leaks=0
fi
# Run from the build tree, so that `import norvane` can only find the installed package.
cd "$build"
exec "$venv/bin/python" -m pytest -p no:cacheprovider -q "$here" "$@"
