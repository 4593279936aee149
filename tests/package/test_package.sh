#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary root and checks what a user gets: the
# files, the menu entry and its checks, and a first start from the menu's command under Xvfb, from an unrelated
# folder with a fresh home.
#   test_package.sh BUILD_DIR
set -euo pipefail

id=org.vanterlo.Vanterlo
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if [ "${1:-}" = --started ]; then
    # Under Xvfb: $2 is the temporary folder, $3 the command line from the desktop entry, $4 its StartupWMClass.
    tmp=$2
    exec_line=$3
    wm_class=$4
    mkdir -p "$tmp/home" "$tmp/elsewhere"
    cd "$tmp/elsewhere"
    env -u BCDEMOS -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u QT_QPA_PLATFORM HOME="$tmp/home" \
        PATH="$tmp/root/usr/bin:$PATH" sh -c "exec $exec_line" > "$tmp/program.log" 2>&1 &
    pid=$!
    visible() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null || true; }
    main=
    for _ in $(seq 150); do
        for w in $(visible); do
            geometry=$(xdotool getwindowgeometry --shell "$w" 2>/dev/null) || continue
            eval "$geometry"
            if [ "$WIDTH" -ge 700 ] && [ "$HEIGHT" -ge 500 ]; then main=$w; fi
        done
        [ -n "$main" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    # A box would open while the first page is shown; give it time to appear.
    sleep 1
    windows=$(visible | wc -l)
    if [ -n "$main" ] && ! xdotool search --onlyvisible --class "^$wm_class\$" 2>/dev/null | grep -qx "$main"; then
        fail "the main window's class is not the menu entry's StartupWMClass $wm_class"
    fi
    title=$( [ -z "$main" ] || xdotool getwindowname "$main" 2>/dev/null || true)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [ -n "$main" ] || { fail "no main window appeared"; cat "$tmp/program.log" >&2; }
    [ "$windows" -eq 1 ] || fail "$windows windows open instead of the main window alone (an error box?)"
    [ -z "$main" ] || [ "$title" = Vanterlo ] || fail "the main window is titled '$title'"
    for f in jhb.DB huizong.DB bwl.sys; do
        [ -f "$tmp/home/.local/share/vanterlo/$f" ] || fail "the data folder has no $f"
    done
    [ -z "$(ls -A "$tmp/elsewhere")" ] || fail "files were made in the current folder: $(ls -A "$tmp/elsewhere")"
    exit $((failures > 0))
fi

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The package, built from the same build folder as everything else, into the temporary folder.
cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" > "$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; exit 1; }
debs=("$tmp"/out/vanterlo_*_"$(dpkg --print-architecture)".deb)
[ -f "${debs[0]}" ] || { echo "no package was made" >&2; ls "$tmp/out" >&2; exit 1; }
deb=${debs[0]}
dpkg-deb -x "$deb" "$tmp/root"
root=$tmp/root

for f in usr/bin/vanterlo usr/bin/vanterlo-db usr/libexec/vanterlo/vanterlo \
    usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/$id.svg \
    usr/share/man/man1/vanterlo.1.gz usr/share/man/man1/vanterlo-db.1.gz \
    usr/share/doc/vanterlo/copyright usr/share/doc/vanterlo/changelog.gz usr/share/doc/vanterlo/README.md; do
    [ -f "$root/$f" ] || fail "missing $f"
done
for size in 16 22 24 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x$size/apps/$id.png
    if [ ! -f "$icon" ]; then
        fail "missing the ${size}px icon"
    elif ! file -b "$icon" | grep -q "PNG image data, $size x $size"; then
        fail "the ${size}px icon is $(file -b "$icon")"
    fi
done
for f in usr/bin/vanterlo usr/bin/vanterlo-db usr/libexec/vanterlo/vanterlo; do
    [ -x "$root/$f" ] || fail "$f is not executable"
    if file -b "$root/$f" | grep -q "not stripped"; then fail "$f is not stripped"; fi
done
if cmp -s "$root/usr/bin/vanterlo" "$root/usr/libexec/vanterlo/vanterlo"; then
    fail "bin/vanterlo is the program, not the launcher"
fi

depends=$(dpkg-deb -f "$deb" Depends)
for p in fonts-noto-cjk fonts-liberation2 qt6-qpa-plugins qt6-translations-l10n libqt6widgets6 libsqlite3-0; do
    grep -Eq "(^|, )$p( |,|$)" <<< "$depends" || fail "Depends lacks $p: $depends"
done

# The package's version names the Debian release it was built for and on.
release=$(. /etc/os-release && echo "${VERSION_ID%%.*}")
version=$(dpkg-deb -f "$deb" Version)
[[ "$version" == *"~deb$release" ]] || fail "the version $version does not name Debian $release"

# The manual page of vanterlo-db names every command its --help lists.
man_text=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/vanterlo-db.1.gz" 2>/dev/null)
commands=$("$build/vanterlo-db" --help | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' | sort -u)
[ "$(wc -l <<< "$commands")" -ge 10 ] || fail "vanterlo-db --help lists only: $commands"
for c in $commands; do
    grep -Eq "^ +$c( |$)" <<< "$man_text" || fail "man vanterlo-db does not describe the command $c"
done

desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" > "$tmp/appstream.log" 2>&1 ||
    { cat "$tmp/appstream.log"; fail "appstreamcli validate"; }

lintian --fail-on error "$deb" > "$tmp/lintian.log" 2>&1 || { cat "$tmp/lintian.log"; fail "lintian reports errors"; }

# The menu's command: Exec without field codes, resolved through PATH as a desktop does, is the unpacked launcher.
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/$id.desktop" | sed 's/ *%[a-zA-Z]//g')
command=${exec_line%% *}
resolved=$(PATH="$root/usr/bin:$PATH" command -v "$command" || true)
[ "$resolved" = "$root/usr/bin/vanterlo" ] || fail "Exec=$exec_line resolves to '$resolved', not the launcher"

if [ "$failures" -eq 0 ]; then
    wm_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/$id.desktop")
    xvfb-run -a -s "-screen 0 1280x1024x24" "$here/test_package.sh" --started "$tmp" "$exec_line" "$wm_class" ||
        failures=$((failures + 1))
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures failed" >&2
    exit 1
fi
echo "package $(basename "$deb"): files, checks and a first start from the menu's command are sound"
