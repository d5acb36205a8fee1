#!/usr/bin/env bash
# Runs the shipped 32-bit build's tests (ctest --preset windows: unit tests under Wine and the
# end-to-end suite) inside an emulated x86-64 machine, for hosts whose kernel refuses 32-bit
# programs. The guest (Debian bookworm with 32- and 64-bit Wine) is built once per machine from
# the machine's configured Debian source and cached under $ZORVEN_GUEST_CACHE (default
# /var/cache/zorven, one folder per package list and guest start script; a new list makes a new
# guest, about 7 minutes). The build tree goes to the guest as a second disk image at the same
# absolute path, since CTest's files hold absolute paths; build/windows must be built.
#   scripts/test-shipped.sh [ctest arguments...]    e.g. -LE program-file, or -R e2e_full_update
#   scripts/test-shipped.sh --build-only            only make the guest
# The arguments reach the guest on the kernel command line: no spaces or commas in them.
# Exit status: the guest's ctest status; 124 when the machine runs past $ZORVEN_GUEST_TIMEOUT
# seconds (default 3600); 3 when the guest reports no status; 2 when build/windows is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir="$PWD"

cache_base="${ZORVEN_GUEST_CACHE:-/var/cache/zorven}"
time_limit="${ZORVEN_GUEST_TIMEOUT:-3600}"
suite=bookworm
# The machine's own Debian source (deb822 or one-line format); nothing else is asked.
mirror="$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)"
if [ -z "$mirror" ]; then
  mirror="$(awk '$1 == "deb" && $2 !~ /^\[/ {print $2; exit} $1 == "deb" {for (i = 2; i <= NF; i++) if ($i !~ /^\[|\]$/ && $i ~ /:\/\//) {print $i; exit}}' \
            /etc/apt/sources.list 2>/dev/null || true)"
fi
mirror="${mirror:-http://deb.debian.org/debian}"
base_packages="linux-image-amd64,systemd-sysv,udev,kmod,python3,xvfb,xauth,ca-certificates"
guest_packages="wine wine32:i386 wine64 libwine:i386 fonts-wine procps cmake xdotool x11-utils imagemagick lrzsz"

key="$( { printf '%s\n%s\n%s\n%s\n' "$suite" "$mirror" "$base_packages" "$guest_packages"; cat scripts/shipped-guest-init.sh; } | sha256sum | cut -c1-16)"
guest="$cache_base/$key"

build_guest() {
  local tmp="$cache_base/.build-$key-$$"
  mkdir -p "$cache_base"
  rm -rf "$tmp"
  trap 'rm -rf "$tmp"' RETURN
  mkdir -p "$tmp"
  echo "== building the test machine in $guest (once per machine)"
  debootstrap --variant=minbase --include="$base_packages" "$suite" "$tmp/root" "$mirror"
  cp /etc/apt/sources.list.d/debian.sources "$tmp/root/etc/apt/sources.list.d/" 2>/dev/null ||
    cp /etc/apt/sources.list "$tmp/root/etc/apt/" 2>/dev/null || true
  chroot "$tmp/root" dpkg --add-architecture i386
  chroot "$tmp/root" apt-get update -q
  DEBIAN_FRONTEND=noninteractive chroot "$tmp/root" \
    apt-get install -y -q --no-install-recommends $guest_packages
  chroot "$tmp/root" apt-get clean
  cp "$root_dir/scripts/shipped-guest-init.sh" "$tmp/root/zorven-init"
  chmod +x "$tmp/root/zorven-init"
  cp "$tmp"/root/boot/vmlinuz-* "$tmp/vmlinuz"
  cp "$tmp"/root/boot/initrd.img-* "$tmp/initrd.img"
  mke2fs -q -t ext4 -d "$tmp/root" "$tmp/root.img" 8G
  rm -rf "$tmp/root"
  mv "$tmp" "$guest"
}

if [ ! -f "$guest/root.img" ]; then build_guest; fi
if [ "${1:-}" = --build-only ]; then exit 0; fi

if [ ! -f build/windows/CTestTestfile.cmake ]; then
  echo "build/windows is not built: cmake --preset windows && cmake --build --preset windows" >&2
  exit 2
fi

work="$(mktemp -d /tmp/zorven-shipped.XXXXXX)"
qemu_pid=""
tail_pid=""
# Every way out (the guest's end, the time limit, INT, TERM, an error) ends the emulator this
# script started, by its id, and the console's reader.
finish() {
  if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill "$qemu_pid" 2>/dev/null || true
    sleep 1
    kill -9 "$qemu_pid" 2>/dev/null || true
  fi
  if [ -n "$tail_pid" ]; then kill "$tail_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

# The guest writes into the tree (Wine prefix, test output); a copy-on-write overlay is not
# needed since the image is thrown away afterwards. Only the source and build/windows go in.
echo "== disk image of $root_dir for the test machine"
mkdir -p "$work/tree"
tar -C "$root_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/tree" -xf -
mkdir -p "$work/tree/build"
cp -a build/windows "$work/tree/build/"
rm -rf "$work/tree/build/windows/wineprefix"
# The guest's python3 is Debian's; a host interpreter found elsewhere (pyenv, venv) is not there.
host_python="$(sed -n 's/^_\{0,1\}Python3_EXECUTABLE:[A-Z]*=//p' build/windows/CMakeCache.txt | head -1)"
if [ -n "$host_python" ] && [ "$host_python" != /usr/bin/python3 ]; then
  find "$work/tree/build/windows" -name CTestTestfile.cmake -exec sed -i "s|$host_python|/usr/bin/python3|g" {} +
fi
mke2fs -q -t ext4 -d "$work/tree" "$work/tree.img" 4G
rm -rf "$work/tree"
cp --sparse=always "$guest/root.img" "$work/root.img"

args="$(IFS=,; echo "$*")"
echo "== booting the test machine: ctest --preset windows $*"
start=$(date +%s)
# The console log exists before tail opens it, whichever process the shell starts first.
: >"$work/console.log"
qemu-system-x86_64 -machine q35 -accel tcg,thread=multi \
  -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt -smp 2 -m 6144 -nographic -no-reboot \
  -kernel "$guest/vmlinuz" -initrd "$guest/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet init=/zorven-init zorven.tree=$root_dir zorven.args=$args" \
  -drive file="$work/root.img",format=raw,if=virtio \
  -drive file="$work/tree.img",format=raw,if=virtio \
  </dev/null >"$work/console.log" 2>&1 &
qemu_pid=$!
tail -n +1 -f "$work/console.log" --pid="$qemu_pid" &
tail_pid=$!
timed_out=0
while kill -0 "$qemu_pid" 2>/dev/null; do
  if [ $(( $(date +%s) - start )) -gt "$time_limit" ]; then timed_out=1; break; fi
  sleep 2
done
kill "$tail_pid" 2>/dev/null || true
wait "$tail_pid" 2>/dev/null || true
if [ "$timed_out" = 1 ]; then
  echo "== test machine ran past ${time_limit}s: stopped" >&2
  exit 124
fi
wait "$qemu_pid" 2>/dev/null || true
qemu_pid=""
echo "== test machine ran $(( $(date +%s) - start ))s"
status="$(tr -d '\r' <"$work/console.log" | sed -n 's/^ZORVEN-CTEST-STATUS \([0-9]*\)$/\1/p' | tail -1)"
if [ -z "$status" ]; then
  echo "== the test machine reported no ctest status" >&2
  exit 3
fi
echo "== ctest in the test machine exited with $status"
exit "$status"
