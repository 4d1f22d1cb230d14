#!/usr/bin/env bash
# Installs the library into a scratch prefix, builds examples/ against the installed package
# twice (CMake's find_package, and pkg-config with a plain compiler line) and runs them: an
# e-mail composed and sent to the recording sink, the same e-mail fetched from Dovecot with its
# attachment saved, and an e-mail signed and encrypted with a throw-away certificate.
#
#   install_examples.sh BUILD_DIR SOURCE_DIR SERVER_ENV_FILE [sanitized]
set -euo pipefail
build=$1 src=$2 envfile=$3 sanitized=${4:-}
work=$(mktemp -d /tmp/norvane-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
say() { echo "install_examples: $*"; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for h in Email.h MailMan.h EmailBundle.h StringArray.h Mime.h Cert.h Csp.h Error.h norvane.h; do
  [[ -f $prefix/include/norvane/$h ]] || { say "not installed: include/norvane/$h"; exit 1; }
done
# The public headers stand alone: nothing of the source tree is reachable from them.
if grep -l '#include "\(common\|facade\|email\|mime\|transport\)/' "$prefix"/include/norvane/*.h; then
  say "a public header includes an internal one"; exit 1
fi

flags=()
if [[ -n $sanitized ]]; then
  # The library was built with ASan and UBSan; programs linking it load their runtimes.
  flags=(-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
  export ASAN_OPTIONS=detect_leaks=1
fi
cmake -S "$src/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" "${flags[@]}" >/dev/null
cmake --build "$work/cmake" -j2 >/dev/null
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig
mkdir -p "$work/pc"
# shellcheck disable=SC2046
g++ -std=c++20 ${sanitized:+-fsanitize=address,undefined} "$src/examples/compose_send.cpp" \
  -o "$work/pc/compose_send" $(pkg-config --cflags --libs norvane) \
  -Wl,-rpath,"$(pkg-config --variable=libdir norvane)"

# shellcheck disable=SC1090
source "$envfile"
export SSL_CERT_FILE=$CA_FILE
cd "$work"
for bin in "$work/cmake/compose_send" "$work/pc/compose_send"; do
  rm -f message.eml
  "$bin" "Ann <ann@example.com>" "grace@pop.test.invalid" >/dev/null
  grep -q "figures.csv" message.eml || { say "$bin: no attachment in message.eml"; exit 1; }
  sent_before=$(ls "$SPOOL" | wc -l)
  "$bin" "ann@example.com" "grace@pop.test.invalid" 127.0.0.1 "$SINK_PORT" >/dev/null
  (( $(ls "$SPOOL" | wc -l) > sent_before )) || { say "$bin: the sink received nothing"; exit 1; }
done

# Delivered as a mail server would: into grace's maildir, where Dovecot finds it.
maildir=$MAIL_ROOT/grace/Maildir
cp message.eml "$maildir/tmp/example.eml" && mv "$maildir/tmp/example.eml" "$maildir/new/1.example:2,"
NORVANE_POP_PASSWORD=gracepw "$work/cmake/fetch_attachments" 127.0.0.1 "$POP3_PORT" grace \
  "$work/saved" >/dev/null
printf 'q,1\nr,2\n' | cmp - "$work/saved/figures.csv"

mkdir -p "$work/store/MY"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Ann/emailAddress=ann@example.com" \
  -keyout "$work/store/MY/ann.key" -out "$work/store/MY/ann.pem" 2>/dev/null
NORVANE_USER_DIR=$work/store "$work/cmake/sign_encrypt" "$work/store/MY/ann.pem" >/dev/null
say "installed, built with CMake and pkg-config, and ran every example"
