#!/usr/bin/env bash
# Runs a command with a CUPS print server of its own for the tests:
#
#   scripts/cups_test_server.sh COMMAND [ARGS...]
#
# The server lives in a new temporary folder and listens only on a Unix socket there. Its printers use a small
# backend of the tests' own, "vtest": a queue with the device vtest:/FOLDER writes each job's file, unchanged, as
# FOLDER/job-N.pdf, with the job's copies in job-N.copies and its options in job-N.options. The command sees
#   CUPS_SERVER=<folder>/cups.sock     (what libcups and lpadmin, lpstat, cupsreject… connect to)
#   VANTERLO_TEST_CUPS=<folder>        (the tests make their queues' job folders under it)
# Anyone on the socket may administer the server. It is stopped and the folder removed however the command ends. The
# exit status is the command's. Where CUPS is not installed, one line says so and the command runs without it; the
# tests that need it then skip.
set -euo pipefail

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi

cupsd=/usr/sbin/cupsd
if [ ! -x "$cupsd" ] || ! command -v lpadmin >/dev/null; then
    echo "CUPS is not installed (no cupsd/lpadmin): the printing tests against a print server were SKIPPED." >&2
    unset VANTERLO_TEST_CUPS
    exec "$@"
fi

# /tmp and not $TMPDIR: the socket's path must stay short, and the user lp must be able to reach the folder.
dir="$(mktemp -d /tmp/vanterlo-cups.XXXXXX)"
chmod 755 "$dir"
server=0
child=0

stop_server() {
    local status=$?
    trap - EXIT INT TERM
    if [ "$server" -ne 0 ]; then
        kill -TERM "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$dir"
    exit "$status"
}
on_signal() {
    if [ "$child" -ne 0 ]; then
        kill -TERM "$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    exit "$1"
}
trap stop_server EXIT
trap 'on_signal 130' INT
trap 'on_signal 143' TERM

mkdir -p "$dir/bin/backend" "$dir/spool/tmp" "$dir/cache" "$dir/state" "$dir/log" "$dir/ppd"
# The server's helper programs are the system's; only the backends are ours.
for part in /usr/lib/cups/*; do
    [ "$(basename "$part")" = backend ] || ln -s "$part" "$dir/bin/"
done
# A backend that is not readable by others runs as root, so it may write wherever the test asks.
cat >"$dir/bin/backend/vtest" <<'BACKEND'
#!/bin/sh
# vtest:/FOLDER — copies the job's file into FOLDER. Arguments: job user title copies options [file].
if [ $# -eq 0 ]; then
    echo 'direct vtest "Unknown" "Vanterlo test printer"'
    exit 0
fi
folder=${DEVICE_URI#vtest:}
mkdir -p "$folder"
out="$folder/job-$1"
if [ -n "$6" ]; then cp "$6" "$out.part"; else cat >"$out.part"; fi
printf '%s\n' "$4" >"$out.copies"
printf '%s\n' "$5" >"$out.options"
mv "$out.part" "$out.pdf"
exit 0
BACKEND
chmod 0700 "$dir/bin/backend/vtest"

cat >"$dir/cupsd.conf" <<EOF2
Listen $dir/cups.sock
LogLevel warn
Browsing No
WebInterface No
DefaultAuthType None
MaxJobs 0
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF2
cat >"$dir/cups-files.conf" <<EOF2
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ServerBin $dir/bin
DataDir /usr/share/cups
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
FileDevice No
User lp
Group lp
SystemGroup root
EOF2

"$cupsd" -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
server=$!
export CUPS_SERVER="$dir/cups.sock"
for _ in $(seq 1 100); do
    if lpstat -r 2>/dev/null | grep -q 'is running'; then
        break
    fi
    if ! kill -0 "$server" 2>/dev/null; then
        echo "$0: cupsd did not start:" >&2
        cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null || true
        server=0
        exit 1
    fi
    sleep 0.1
done
if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
    echo "$0: cupsd does not answer on $CUPS_SERVER" >&2
    exit 1
fi

export VANTERLO_TEST_CUPS="$dir"
echo "CUPS test server on $CUPS_SERVER"
set +e
"$@" &
child=$!
wait "$child"
status=$?
child=0
set -e
exit "$status"
