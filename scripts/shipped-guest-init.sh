#!/bin/sh
# First process of the test machine scripts/test-shipped.sh boots. Mounts the build tree (second
# disk) at the path given on the kernel command line, runs ctest there on the windows preset and
# prints its status on the serial console as "ZORVEN-CTEST-STATUS <n>", then powers off.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH HOME=/root LANG=C.UTF-8
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
ip link set lo up 2>/dev/null || true
tree=$(sed -n 's/.*zorven.tree=\([^ ]*\).*/\1/p' /proc/cmdline)
args=$(sed -n 's/.*zorven.args=\([^ ]*\).*/\1/p' /proc/cmdline | tr ',' ' ')
mkdir -p "$tree"
status=99
if mount /dev/vdb "$tree"; then
  cd "$tree" && ctest --preset windows $args
  status=$?
  [ -d build/windows/wineprefix ] && WINEPREFIX="$tree/build/windows/wineprefix" wineserver -k 2>/dev/null
  cd /
  umount "$tree"
fi
echo "ZORVEN-CTEST-STATUS $status"
sync
echo o > /proc/sysrq-trigger
sleep 60
