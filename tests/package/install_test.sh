#!/usr/bin/env bash
# Installs a built package into a fresh minimal Debian root of its release, as a new user would
# (apt-get install ./vanterlo_*.deb, nothing else by hand), and checks what he gets: `vanterlo` started from the
# menu's command in an unrelated folder with a fresh home shows the main window and no box and makes the data folder;
# `man vanterlo-db` describes every command; the data stays through reinstall and purge. Needs root; slow (a fresh
# root and the package's dependencies each run), so it is not part of ./test.sh.
#
#   tests/package/install_test.sh [PACKAGE.deb]      default: the newest build*/vanterlo_*.deb for this release
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
src="$(cd "$here/../.." && pwd)"

if [ "${1:-}" = --inside ]; then
    # In the fresh root, at /src.
    deb="$2"
    export DEBIAN_FRONTEND=noninteractive
    failures=0
    fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
    step() { echo "== $*"; }

    step "apt-get install ./$deb"
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "./$deb" > /tmp/install.log 2>&1 || { cat /tmp/install.log; exit 1; }
    grep -E "^(Setting up|Unpacking) vanterlo " /tmp/install.log || true
    echo "$(grep -c '^Setting up' /tmp/install.log) packages set up"

    # What the checks themselves need, installed after the package so that they cannot stand in for a missing
    # dependency of it: the X server, a window tool and the manual reader.
    step "the test tools: xvfb xauth xdotool man-db"
    apt-get install -y -qq --no-install-recommends xvfb xauth xdotool man-db > /tmp/tools.log 2>&1 ||
        { cat /tmp/tools.log; exit 1; }

    step "man vanterlo-db"
    man_text="$(MANWIDTH=200 man vanterlo-db 2>/dev/null)"
    commands="$(vanterlo-db --help | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' | sort -u)"
    for c in $commands; do
        grep -Eq "^ +$c( |$)" <<< "$man_text" || fail "man vanterlo-db does not describe $c"
    done
    echo "describes: $(echo $commands)"
    MANWIDTH=200 man vanterlo 2>/dev/null | grep -q "vanterlo.lock" || fail "man vanterlo does not name the lock file"

    step "first start from the menu's command, in an unrelated folder with a fresh home"
    desktop=/usr/share/applications/org.vanterlo.Vanterlo.desktop
    exec_line="$(sed -n 's/^Exec=//p' "$desktop" | sed 's/ *%[a-zA-Z]//g')"
    wm_class="$(sed -n 's/^StartupWMClass=//p' "$desktop")"
    tmp="$(mktemp -d)"
    if xvfb-run -a -s "-screen 0 1280x1024x24" /src/tests/package/test_package.sh --started "$tmp" "$exec_line" \
        "$wm_class"; then
        echo "main window, no box, data folder made: $(ls "$tmp/home/.local/share/vanterlo" | tr '\n' ' ')"
    else
        fail "the first start"
    fi
    data="$tmp/home/.local/share/vanterlo"
    HOME="$tmp/home" vanterlo-db generate 3 "$data" > /dev/null || fail "vanterlo-db generate"

    step "reinstall and purge keep the data"
    apt-get install -y -qq --reinstall --no-install-recommends "./$deb" > /dev/null 2>&1 || fail "reinstall"
    apt-get purge -y -qq vanterlo > /dev/null 2>&1 || fail "purge"
    [ ! -e /usr/bin/vanterlo ] || fail "purge left /usr/bin/vanterlo"
    apt-get install -y -qq --no-install-recommends "./$deb" > /dev/null 2>&1 || fail "install after purge"
    HOME="$tmp/home" vanterlo-db check "$data" | grep -q "进货记录 3 条" || fail "the records did not stay"

    if [ "$failures" -gt 0 ]; then
        echo "$failures failed" >&2
        exit 1
    fi
    echo "installed into a fresh Debian $(cat /etc/debian_version) root: sound"
    exit 0
fi

deb="${1:-}"
if [ -z "$deb" ]; then
    release="$(. /etc/os-release && echo "${VERSION_ID%%.*}")"
    deb="$(ls -t "$src"/build*/vanterlo_*~deb"$release"_*.deb 2>/dev/null | head -n1 || true)"
    [ -n "$deb" ] || { echo "no package for Debian $release: run ./package.sh first" >&2; exit 2; }
fi
deb="$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
case "$deb" in
    "$src"/*) ;;
    *) echo "$0: the package must lie inside the source tree $src (it is seen there from the root)" >&2; exit 2 ;;
esac
version="$(dpkg-deb -f "$deb" Version)"
release="${version##*~deb}"
echo "$(basename "$deb") into a fresh Debian $release root"
exec "$src/scripts/in-debian.sh" --fresh "$release" "tests/package/install_test.sh" --inside "${deb#"$src"/}"
