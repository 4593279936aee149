#!/usr/bin/env bash
# Runs a command with a PostgreSQL server of its own for the tests:
#
#   scripts/pg_test_server.sh COMMAND [ARGS...]
#
# The server lives in a new temporary folder and listens only on a Unix socket there (no TCP port), with trust
# authentication for the superuser postgres. The command sees it as
#   VANTERLO_TEST_SERVER="host=<folder> port=<port> user=postgres dbname=postgres"
# The server is stopped and the folder removed however the command ends (also on Ctrl+C or a kill). The exit status is
# the command's. Where PostgreSQL is not installed, one line says so and the command runs without the server; the
# tests that need it then skip.
set -euo pipefail

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi

# Debian's PostgreSQL 15, else the newest version that is installed.
pg_bin=""
for candidate in /usr/lib/postgresql/15/bin $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    if [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ]; then
        pg_bin="$candidate"
        break
    fi
done

# PostgreSQL refuses to run as root: as root it runs as the user postgres, which the Debian package makes.
as_server=()
if [ "$(id -u)" -eq 0 ]; then
    if ! id -u postgres >/dev/null 2>&1; then
        pg_bin=""
    fi
    as_server=(runuser -u postgres --)
fi

if [ -z "$pg_bin" ]; then
    echo "PostgreSQL 15 is not installed (no initdb/pg_ctl, or no user postgres): the tests against a database server were SKIPPED." >&2
    unset VANTERLO_TEST_SERVER
    exec "$@"
fi

# /tmp rather than $TMPDIR: as root, the user postgres must be able to reach the folder, and the socket's path must
# stay short (at most 107 bytes).
dir="$(mktemp -d /tmp/vanterlo-pg.XXXXXX)"
port=55432
server_started=0
child=0

stop_server() {
    local status=$?
    trap - EXIT INT TERM
    if [ "$server_started" -eq 1 ]; then
        "${as_server[@]}" "$pg_bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    exit "$status"
}
# A signal ends the command first, then the server.
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

if [ ${#as_server[@]} -gt 0 ]; then
    chown postgres "$dir"
fi

# A throw-away server: no waiting for the disk.
if ! "${as_server[@]}" "$pg_bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 -N \
    >"$dir/initdb.log" 2>&1; then
    echo "$0: initdb failed:" >&2
    cat "$dir/initdb.log" >&2
    exit 1
fi
server_started=1
if ! "${as_server[@]}" "$pg_bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $dir -p $port -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
    start >/dev/null; then
    echo "$0: the PostgreSQL server did not start:" >&2
    cat "$dir/server.log" >&2
    exit 1
fi

export VANTERLO_TEST_SERVER="host=$dir port=$port user=postgres dbname=postgres"
echo "PostgreSQL test server: $("$pg_bin/postgres" --version) on $VANTERLO_TEST_SERVER"
# Not exec: the server is stopped when the command has ended. In the background, so that a signal is acted on at once.
set +e
"$@" &
child=$!
wait "$child"
status=$?
child=0
set -e
exit "$status"
