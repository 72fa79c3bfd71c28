#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that a clean clone builds, runs and passes its tests on a fresh
# Debian 12 machine that is not set up like the developers' ones: German
# locale, a far time zone, Noto fonts as the system's fixed font, a user who
# is not root and installs through password-less sudo.
#   sudo scripts/fresh-machine.sh           make (or reuse) the base root, then
#                                           ./run --screenshot and ./test in a copy
#   sudo scripts/fresh-machine.sh --new-base   throw the cached base away first
#   sudo scripts/fresh-machine.sh --keep    leave the copy behind for a look
#   sudo scripts/fresh-machine.sh --base-only   only make the base
# The base root is kept pristine in $VORTA_FRESH_CACHE (/var/tmp/vorta-fresh-base);
# each run copies it, so only the first run waits for debootstrap. The
# screenshot is left in $VORTA_FRESH_CACHE/screenshot.png. Needs root (chroot,
# mounts) and the Debian mirror. Exits non-zero when either command fails.
set -eu -o pipefail
usage() { awk '/SPDX-License-Identifier/ { next } NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; }
newbase=0; keep=0; baseonly=0
while [ $# -gt 0 ]; do
    case "$1" in
        --new-base) newbase=1 ;;
        --keep) keep=1 ;;
        --base-only) baseonly=1 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "fresh-machine: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ "$(id -u)" = 0 ] || { echo "fresh-machine: needs root for debootstrap, chroot and mounts (run it with sudo)" >&2; exit 2; }

src=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$src" rev-parse HEAD)
cache=${VORTA_FRESH_CACHE:-/var/tmp/vorta-fresh-base}
mirror=http://deb.debian.org/debian
user=dev
base="$cache/root"
say() { echo "== $(date +%T) $*"; }
since() { local s=$((SECONDS - $1)); echo "$((s / 60)) min $((s % 60)) s"; }

mkdir -p "$cache"
if [ "$newbase" = 1 ]; then
    say "removing the cached base $base"
    rm -rf "$base" "$base.ok"
fi

# The base: a minimal bookworm with the fonts, the locale, the time zone and
# the user; nothing of the project's own build packages, which ./run and
# ./test must install themselves.
if [ ! -e "$base.ok" ]; then
    command -v debootstrap >/dev/null || {
        say "installing debootstrap"
        apt-get update -qq </dev/null
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap </dev/null
    }
    rm -rf "$base.new"
    say "debootstrap bookworm into $base.new (a few minutes)"
    debootstrap --variant=minbase \
        --include=sudo,git,ca-certificates,locales,tzdata,fonts-noto-mono,fonts-noto-core \
        bookworm "$base.new" "$mirror"
    cat >"$base.new/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
    echo "de_DE.UTF-8 UTF-8" >"$base.new/etc/locale.gen"
    chroot "$base.new" locale-gen
    printf 'LANG=de_DE.UTF-8\nLC_ALL=de_DE.UTF-8\n' >"$base.new/etc/default/locale"
    ln -sf /usr/share/zoneinfo/Asia/Seoul "$base.new/etc/localtime"
    echo Asia/Seoul >"$base.new/etc/timezone"
    chroot "$base.new" useradd -m -s /bin/bash "$user"
    printf 'export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 TZ=Asia/Seoul\n' >>"$base.new/home/$user/.profile"
    echo "$user ALL=(ALL) NOPASSWD:ALL" >"$base.new/etc/sudoers.d/$user"
    chmod 0440 "$base.new/etc/sudoers.d/$user"
    chroot "$base.new" apt-get clean
    mv "$base.new" "$base"
    touch "$base.ok"
    say "base ready"
else
    say "reusing the base $base"
fi
[ "$baseonly" = 1 ] && exit 0

work=$(mktemp -d /var/tmp/vorta-fresh.XXXXXX)
root="$work/root"
mounted=()
cleanup() {
    local rc=$?
    set +e
    # Whatever the commands left running inside (a broker, the simulated
    # sensor, a build cut short) holds the mounts: end those processes, by
    # their id, and give them a few seconds before they are killed.
    for sig in TERM TERM TERM TERM TERM KILL; do
        local left=""
        for p in /proc/[0-9]*; do
            [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && left="$left ${p#/proc/}"
        done
        [ -z "$left" ] && break
        kill -s "$sig" $left 2>/dev/null
        sleep 1
    done
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}"
    done
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "fresh-machine: mounts left below $root; not removing it" >&2
    elif [ "$keep" = 1 ]; then
        echo "fresh-machine: the machine is left in $root"
    else
        rm -rf "$work"
    fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "copying the base to $root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# debootstrap writes no hosts file; a Debian installation has one, and the
# tests reach their broker as localhost (sudo looks the host's name up).
printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n::1\tlocalhost ip6-localhost ip6-loopback\n' \
    "$(cat "$root/etc/hostname")" >"$root/etc/hosts"
# Packages installed in the chroot must not start their services (a broker
# on the host's port 1883): the tests start their own.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 0755 "$root/usr/sbin/policy-rc.d"
for m in proc dev dev/pts dev/shm sys; do
    case "$m" in
        proc) mount -t proc proc "$root/proc" ;;
        sys) mount -t sysfs sysfs "$root/sys" ;;
        *) mount --bind "/$m" "$root/$m" ;;
    esac
    mounted+=("$root/$m")
done

say "cloning $src at $commit"
clone="/home/$user/vorta"
git clone -q --no-checkout "$src" "$root$clone"
git -C "$root$clone" cat-file -e "$commit^{commit}" 2>/dev/null || git -C "$root$clone" fetch -q "$src" "$commit"
git -C "$root$clone" checkout -q --detach "$commit"
chroot "$root" chown -R "$user:$user" "$clone"

# as_user COMMAND: runs COMMAND in the clone as the user, with a login
# shell's environment and nothing of this one's. In the background, so that
# a signal to this script ends the wait (and the cleanup ends the command).
as_user() {
    chroot "$root" runuser -u "$user" -- env -i HOME="/home/$user" USER="$user" LOGNAME="$user" \
        PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin bash -lc "cd $clone && $1" &
    wait $!
}
failed=""
say "./run --screenshot (installs the packages, builds the programs)"
start=$SECONDS
if as_user "./run --screenshot /tmp/screenshot.png" && [ -s "$root/tmp/screenshot.png" ]; then
    cp "$root/tmp/screenshot.png" "$cache/screenshot.png"
    say "./run passed in $(since $start); screenshot in $cache/screenshot.png"
else
    failed="$failed ./run"
    say "./run FAILED after $(since $start)"
fi
say "./test"
start=$SECONDS
if as_user "./test"; then
    say "./test passed in $(since $start)"
else
    failed="$failed ./test"
    say "./test FAILED after $(since $start)"
fi
if [ -n "$failed" ]; then
    say "failed:$failed"
    exit 1
fi
say "all passed"
