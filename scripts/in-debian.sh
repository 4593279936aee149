#!/usr/bin/env bash
# Runs a command from this source tree inside a minimal Debian root of the release given:
#
#   scripts/in-debian.sh [--fresh] RELEASE COMMAND [ARGS...]      e.g.  scripts/in-debian.sh 13 ./test.sh
#
# RELEASE is 12 or 13. The root is made once with debootstrap (variant minbase) from the Debian mirror this machine's
# apt uses and kept under $VANTERLO_DEBIAN_CACHE (default /var/cache/vanterlo-debian):
#   <cache>/<release>/base   the bare root as debootstrap left it; never changed afterwards
#   <cache>/<release>/work   a copy of it in which the commands run; the packages they install stay there
# With --fresh the command runs in a throw-away copy of the bare root instead, removed afterwards (an install test).
#
# The source tree is bound at /src and the command starts there, as root, with HOME=/root. Its build folder is
# build-deb<release> (VANTERLO_BUILD_DIR), so the build for this machine's release in build/ is left alone.
# /proc, /sys, /dev and /dev/pts are bound in a mount namespace of its own: they go away with the command, however
# it ends. The exit status is the command's. Needs root, debootstrap and unshare.
set -euo pipefail

fresh=0
if [ "${1:-}" = "--fresh" ]; then
    fresh=1
    shift
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--fresh] 12|13 COMMAND [ARGS...]" >&2
    exit 2
fi
release="$1"
shift
case "$release" in
    12) codename=bookworm ;;
    13) codename=trixie ;;
    *)
        echo "$0: unknown Debian release '$release' (12 or 13)" >&2
        exit 2
        ;;
esac
if [ "$(id -u)" -ne 0 ]; then
    echo "$0: needs root (debootstrap, mount and chroot); run it as root" >&2
    exit 2
fi
for tool in debootstrap unshare flock; do
    if ! command -v "$tool" >/dev/null; then
        echo "$0: $tool is missing; install it with: apt-get install debootstrap util-linux" >&2
        exit 2
    fi
done

src="$(cd "$(dirname "$0")/.." && pwd)"
cache="${VANTERLO_DEBIAN_CACHE:-/var/cache/vanterlo-debian}/$release"
mkdir -p "$cache"

# The Debian mirror of this machine's apt sources (deb822 or one-line form), else deb.debian.org.
debian_mirror() {
    local uri
    uri="$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk 'tolower($1)=="uris:" { for (i = 2; i <= NF; i++) print $i }' |
        grep -v -e security -e '^#' | grep '/debian/\?$' | head -n1 || true)"
    if [ -z "$uri" ]; then
        uri="$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            awk '$1=="deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' |
            grep -v security | grep '/debian/\?$' | head -n1 || true)"
    fi
    echo "${uri:-http://deb.debian.org/debian}"
}

# Makes <cache>/base once; several runs at the same time wait for the first one.
make_base() {
    exec 9>"$cache/.lock"
    flock 9
    if [ -e "$cache/base/.vanterlo-complete" ]; then
        return 0
    fi
    local mirror
    mirror="$(debian_mirror)"
    local security="${mirror%/debian}/debian-security"
    [ "$security" = "$mirror/debian-security" ] && security="http://deb.debian.org/debian-security"
    echo "Making a minimal Debian $release ($codename) root from $mirror in $cache/base (once; takes a few minutes)"
    rm -rf "$cache/base.tmp"
    debootstrap --variant=minbase "$codename" "$cache/base.tmp" "$mirror"
    cat >"$cache/base.tmp/etc/apt/sources.list" <<EOF
deb $mirror $codename main
deb $mirror $codename-updates main
deb $security $codename-security main
EOF
    # No documentation is dropped, so that man pages of an installed package can be read there.
    rm -f "$cache/base.tmp/etc/dpkg/dpkg.cfg.d/excludes"
    apt-get clean -o RootDir="$cache/base.tmp" 2>/dev/null || true
    touch "$cache/base.tmp/.vanterlo-complete"
    rm -rf "$cache/base"
    mv "$cache/base.tmp" "$cache/base"
    flock -u 9
}

make_base
exec 9>&-

if [ "$fresh" -eq 1 ]; then
    root="$(mktemp -d "$cache/fresh.XXXXXX")"
    trap 'rm -rf --one-file-system "$root"' EXIT
    cp -a "$cache/base/." "$root/"
else
    root="$cache/work"
    (
        exec 9>"$cache/.lock"
        flock 9
        if [ ! -e "$root/.vanterlo-complete" ]; then
            rm -rf --one-file-system "$root"
            cp -a "$cache/base" "$root.tmp"
            mv "$root.tmp" "$root"
        fi
    )
fi
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

# The mounts are made in a mount namespace of the command's own, so nothing stays mounted after it.
status=0
unshare --mount --propagation private -- bash -euo pipefail -c '
    root="$1"; src="$2"; release="$3"; shift 3
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mkdir -p "$root/src" "$root/dev/shm"
    mount --bind "$src" "$root/src"
    mount -t tmpfs tmpfs "$root/tmp"
    exec chroot "$root" /usr/bin/env -i \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        VANTERLO_BUILD_DIR="build-deb$release" \
        /bin/sh -c "cd /src && exec \"\$@\"" sh "$@"
' in-debian "$root" "$src" "$release" "$@" || status=$?
exit "$status"
