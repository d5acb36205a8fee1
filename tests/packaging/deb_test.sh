#!/usr/bin/env bash
# Builds the Debian package from the build tree with cpack in a temporary folder and checks it as
# a station would get it: its file name and control fields, exactly the files it installs (with
# their modes and owner), that every shared library the packaged program loads comes from a
# package it depends on, the rule's bytes, the program's --version, and that its postinst
# succeeds whether or not udev is there.
#
#   deb_test.sh CPACK CPACK_CONFIG PROJECT_VERSION RULE_FILE EXPECTED_VERSION_LINE
set -euo pipefail

cpack=$1 config=$2 version=$3 rule=$4 version_line=$5
rule_name=$(basename "$rule")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
fail() { echo "FAIL: $*" >&2; status=1; }
expect_eq() {  # what, expected, actual
  if [ "$2" != "$3" ]; then fail "$1: expected [$2], got [$3]"; fi
}

"$cpack" -G DEB --config "$config" -B "$work/out" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack failed" >&2
  exit 1
}

arch=$(dpkg --print-architecture)
deb=$work/out/zorven_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
  echo "FAIL: no $(basename "$deb"); cpack made: $(cd "$work/out" && ls -- *.deb 2>/dev/null)" >&2
  exit 1
fi

# -- Control fields.
expect_eq Package zorven "$(dpkg-deb -f "$deb" Package)"
expect_eq Version "$version" "$(dpkg-deb -f "$deb" Version)"
expect_eq Architecture "$arch" "$(dpkg-deb -f "$deb" Architecture)"
expect_eq Section utils "$(dpkg-deb -f "$deb" Section)"
for field in Maintainer Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "$field is empty"
done
depends=$(dpkg-deb -f "$deb" Depends)

# -- Exactly these files, nothing of the test bench (zorven-printer) among them.
expected_files="-rw-r--r-- root/root ./usr/lib/udev/rules.d/$rule_name
-rwxr-xr-x root/root ./usr/bin/zorven-cli"
actual_files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort)
expect_eq "files" "$expected_files" "$actual_files"

dpkg-deb -x "$deb" "$work/root"
cmp "$rule" "$work/root/usr/lib/udev/rules.d/$rule_name" || fail "the packaged rule differs from $rule"

# -- The packaged program runs from the extracted tree.
program=$work/root/usr/bin/zorven-cli
if out=$("$program" --version 2>&1); then
  expect_eq "zorven-cli --version" "$version_line" "$out"
else
  fail "zorven-cli --version ended with status $?: $out"
fi

# -- Every library the program loads belongs to a package named in Depends.
depends_names=" $(echo "$depends" | sed -E 's/\([^)]*\)//g; s/[|,]/ /g' | tr -s ' ') "
while read -r lib; do
  owner=$(dpkg -S "$lib" 2>/dev/null || dpkg -S "$(readlink -f "$lib")" 2>/dev/null || true)
  owner=${owner%%:*}
  if [ -z "$owner" ]; then
    fail "$lib (loaded by zorven-cli) belongs to no installed package"
  elif [[ "$depends_names" != *" $owner "* ]]; then
    fail "$lib comes from $owner, which Depends ($depends) does not name"
  fi
done < <(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}')

# -- postinst: applies the rule through udevadm where it exists, and succeeds where udevadm
# fails (no udev running, as in a container) or is missing (a chroot).
dpkg-deb -e "$deb" "$work/control"
postinst=$work/control/postinst
if [ ! -x "$postinst" ]; then
  fail "no executable postinst"
else
  mkdir "$work/stub" "$work/empty"
  printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$work/udevadm.calls" >"$work/stub/udevadm"
  chmod +x "$work/stub/udevadm"
  PATH=$work/stub "$postinst" configure || fail "postinst failed with a failing udevadm: status $?"
  expect_eq "udevadm calls" "control --reload
trigger --action=add --subsystem-match=usb-serial" "$(cat "$work/udevadm.calls" 2>/dev/null)"
  PATH=$work/empty "$postinst" configure || fail "postinst failed without udevadm: status $?"
fi

if [ $status = 0 ]; then echo "$(basename "$deb"): Depends: $depends; all checks passed"; fi
exit $status
