#!/bin/bash
# Starts the mail servers of the transport integration tests on 127.0.0.1 high ports:
#   Dovecot     POP3 (STLS, APOP, XOAUTH2/OAUTHBEARER with locally checked JWTs) and POP3
#               over TLS (test CA), SMTP submission (STARTTLS) and
#               submission over TLS (PLAIN LOGIN CRAM-MD5 XOAUTH2 OAUTHBEARER; SIZE 1 MB,
#               ENHANCEDSTATUSCODES)
#   Exim x2     SMTP with PLAIN LOGIN CRAM-MD5 NTLM MSN, SIZE 8BITMIME DSN SMTPUTF8 offered;
#               NTLM by Cyrus SASL (v1 and v2)
#               and by Exim's SPA code (v1 only); USER@pop.test.invalid into USER's maildir
#   sink        aiosmtpd recording the exact DATA bytes; Dovecot and Exim deliver to it
#
#   start.sh [ENV_FILE]
#
# Everything lives in a new temporary state directory, printed on stdout; its env file
# (also copied to ENV_FILE when given) holds the ports, users and paths as KEY=VALUE lines.
# Stop with stop.sh, which kills only the PIDs recorded here. Needs root: each server drops
# to its own system user.
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
PY=/usr/bin/python3   # Debian's interpreter, where python3-aiosmtpd is installed
die() { echo "start.sh: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || die "must run as root"
for bin in /usr/sbin/dovecot /usr/lib/dovecot/submission /usr/sbin/exim4 /usr/sbin/saslpasswd2; do
  [ -x "$bin" ] || die "$bin missing: run scripts/setup.sh"
done
$PY -c 'import aiosmtpd' 2>/dev/null || die "python3-aiosmtpd missing: run scripts/setup.sh"

USERS=("alice:alicepw" "bob:bobpw" "carol:s3cret pass!" "dave:davepw" "erin:erinpw"
       "bench:benchpw" "frank:frankpw" "grace:gracepw")

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# Eight consecutive ports, free now; the base moves with our PID so parallel runs differ.
BASE=""
for try in $(seq 0 40); do
  b=$(( 20000 + ( ($$ + try * 97) % 1200 ) * 10 ))
  ok=1
  for i in 0 1 2 3 4 5 6 7; do port_free $((b + i)) || { ok=0; break; }; done
  [ $ok = 1 ] && { BASE=$b; break; }
done
[ -n "$BASE" ] || die "no free ports found"
POP3_PORT=$BASE; POP3S_PORT=$((BASE + 1)); SUBMISSION_PORT=$((BASE + 2))
SINK_PORT=$((BASE + 3)); EXIM_CYRUS_PORT=$((BASE + 4)); EXIM_SPA_PORT=$((BASE + 5))
SUBMISSIONS_PORT=$((BASE + 6))

D="$(mktemp -d /tmp/norvane-servers.XXXXXX)"
# The servers' own users must read their configuration below it.
chmod 755 "$D"
mkdir -p "$D/tls" "$D/spool" "$D/logs" "$D/dovecot" "$D/mail"
subst() { sed -e "s#@STATE@#$D#g" -e "s#@POP3_PORT@#$POP3_PORT#g" \
              -e "s#@POP3S_PORT@#$POP3S_PORT#g" -e "s#@SUBMISSION_PORT@#$SUBMISSION_PORT#g" \
              -e "s#@SUBMISSIONS_PORT@#$SUBMISSIONS_PORT#g" \
              -e "s#@SINK_PORT@#$SINK_PORT#g" -e "s#@RUNUSER@#$RUNUSER#g" \
              -e "s#@DIR@#${DIR:-}#g" -e "s#@PORT@#${PORT:-}#g" "$1"; }

# Daemons must not keep our stdout: a caller reading it to the end (ctest) would wait forever.
: > "$D/logs/start.log"

# ---- test PKI: a CA, the servers' certificate, and one for a host nobody asks for ----
(
  cd "$D/tls"
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 7 -keyout ca.key -out ca.pem \
    -subj "/CN=Norvane Test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  issue() {  # issue NAME CN [SAN]
    openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$1.key" -out "$1.csr" \
      -subj "/CN=$2" 2>/dev/null
    {
      [ -z "${3:-}" ] || echo "subjectAltName=$3"
      printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n'
    } > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 7 \
      -sha256 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
  }
  issue server server "DNS:localhost,IP:127.0.0.1,IP:::1"
  issue wronghost wronghost "DNS:elsewhere.test.invalid"
  # The right host name in the subject's CN only, with no subjectAltName at all.
  issue cnonly localhost
  chmod 644 ./*.pem; chmod 600 ./*.key
)

# ---- recording sink, as nobody ----
chown nobody:nogroup "$D/spool"
setpriv --reuid=nobody --regid=nogroup --clear-groups \
  $PY "$HERE/sink.py" --port "$SINK_PORT" --spool "$D/spool" > "$D/logs/sink.log" 2>&1 < /dev/null &
echo $! > "$D/sink.pid"

# ---- Dovecot, as dovecot ----
RUNUSER=dovecot
subst "$HERE/templates/dovecot.conf.in" > "$D/dovecot/dovecot.conf"
install -m 600 "$D/tls/server.key" "$D/dovecot/server.key"
for u in "${USERS[@]}"; do printf '%s:{PLAIN}%s::::::\n' "${u%%:*}" "${u#*:}"; done > "$D/dovecot/users"
for u in "${USERS[@]}"; do mkdir -p "$D/mail/${u%%:*}/Maildir/"{cur,new,tmp}; done
# OAuth 2.0: an HS256 key Dovecot validates tokens with, a token for frank signed with it and
# one signed with another key (valid for the state directory's lifetime, a week at most).
subst "$HERE/templates/dovecot-oauth2.conf.ext.in" > "$D/dovecot/oauth2.conf.ext"
mkdir -p "$D/dovecot/oauth-keys/default/HS256"
$PY - "$D/dovecot/oauth-keys/default/HS256/default" "$D/oauth.env" <<'PY'
import base64, hashlib, hmac, json, os, sys, time
b64 = lambda b: base64.urlsafe_b64encode(b).rstrip(b"=").decode()
def token(key):
    now = int(time.time())
    head = b64(json.dumps({"alg": "HS256", "typ": "JWT"}).encode())
    body = b64(json.dumps({"sub": "frank", "iat": now, "exp": now + 7 * 86400}).encode())
    sig = hmac.new(key, (head + "." + body).encode(), hashlib.sha256).digest()
    return head + "." + body + "." + b64(sig)
key = os.urandom(32)
open(sys.argv[1], "w").write(base64.b64encode(key).decode())
open(sys.argv[2], "w").write("OAUTH_USER=frank\nOAUTH_TOKEN=%s\nOAUTH_BAD_TOKEN=%s\n"
                             % (token(key), token(os.urandom(32))))
PY
chown -R dovecot:dovecot "$D/dovecot" "$D/mail"
# Exim delivers mail for pop.test.invalid into these maildirs as Debian-exim: its group may
# add files to tmp and new; Dovecot owns the directories and may move or delete them.
for u in "${USERS[@]}"; do
  chgrp Debian-exim "$D/mail/${u%%:*}/Maildir/"{tmp,new}
  chmod 2775 "$D/mail/${u%%:*}/Maildir/"{tmp,new}
done
: > "$D/logs/dovecot.log"; chown dovecot:dovecot "$D/logs/dovecot.log"
setpriv --reuid=dovecot --regid=dovecot --init-groups \
  /usr/sbin/dovecot -c "$D/dovecot/dovecot.conf" < /dev/null >> "$D/logs/start.log" 2>&1 || die "dovecot did not start: $D/logs/dovecot.log"

# ---- two Exim instances, as Debian-exim ----
RUNUSER=Debian-exim
start_exim() {  # start_exim NAME PORT BACKEND
  DIR="$D/$1"; PORT=$2
  mkdir -p "$DIR/spool" "$DIR/log" "$DIR/sasl"
  { subst "$HERE/templates/exim.conf.in"; subst "$HERE/templates/exim-ntlm-$3.in"; } > "$DIR/exim.conf"
  for u in "${USERS[@]}"; do printf '%s: %s\n' "${u%%:*}" "${u#*:}"; done > "$DIR/passwd"
  subst "$HERE/templates/sasl-exim.conf.in" > "$DIR/sasl/exim.conf"
  for u in "${USERS[@]}"; do
    printf '%s' "${u#*:}" | saslpasswd2 -f "$DIR/sasl/sasldb2" -c -p -u test.invalid "${u%%:*}"
  done
  chown -R Debian-exim:Debian-exim "$DIR"
  # exim4 is set-uid root; started as Debian-exim with -C it keeps no privilege.
  SASL_CONF_PATH="$DIR/sasl" setpriv --reuid=Debian-exim --regid=Debian-exim --init-groups \
    /usr/sbin/exim4 -C "$DIR/exim.conf" -bd < /dev/null >> "$D/logs/start.log" 2>&1 || die "exim ($1) did not start: $DIR/log"
}
start_exim exim-cyrus "$EXIM_CYRUS_PORT" cyrus
start_exim exim-spa "$EXIM_SPA_PORT" spa

wait_port() {
  for _ in $(seq 1 200); do port_free "$1" || return 0; sleep 0.05; done
  die "port $1 did not open (logs under $D)"
}
for p in $SINK_PORT $POP3_PORT $POP3S_PORT $SUBMISSION_PORT $SUBMISSIONS_PORT $EXIM_CYRUS_PORT \
         $EXIM_SPA_PORT; do
  wait_port "$p"
done

{
  echo "STATE_DIR=$D"
  echo "CA_FILE=$D/tls/ca.pem"
  for c in server wronghost cnonly; do
    echo "${c^^}_CERT=$D/tls/$c.pem"
    echo "${c^^}_KEY=$D/tls/$c.key"
  done
  for p in POP3_PORT POP3S_PORT SUBMISSION_PORT SUBMISSIONS_PORT SINK_PORT EXIM_CYRUS_PORT \
           EXIM_SPA_PORT; do
    echo "$p=${!p}"
  done
  echo "SPOOL=$D/spool"
  echo "MAIL_ROOT=$D/mail"
  echo "EXIM_CYRUS_LOG=$D/exim-cyrus/log/mainlog"
  echo "EXIM_SPA_LOG=$D/exim-spa/log/mainlog"
  echo "DOVECOT_LOG=$D/logs/dovecot.log"
  cat "$D/oauth.env"
} > "$D/env"
chmod 644 "$D/env"
[ $# -ge 1 ] && cp "$D/env" "$1"
echo "$D"
