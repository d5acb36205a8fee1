#!/usr/bin/env bash
# The package values given to the build as cache settings (-DZORVEN_PACKAGE_...=, as a user
# configures a build) reach the record byte for byte: an empty text, spaces, ';', quotes, '$<',
# '${', backslashes and a control character included. Each row configures the project in one
# work tree (kept between runs, so later runs only rebuild the package builder's record), builds
# the default package record and compares its fields with the values given.
#
# CMake itself trims trailing blanks from a -D value unless the value is wrapped in single
# quotes, which it then removes ("-DZORVEN_PACKAGE_VERSION=' V1  '" gives " V1  "); the rows
# give the -D text and expect it with such a pair removed.
#
# usage: package_route.sh CMAKE SOURCE_DIR WORK_DIR
set -u
cmake="$1" src="$2" work="$3"
record="$work/packages/default.bin"
fails=0

hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
padded() {  # text, field size -> the field's bytes in hex: the text, then zeros
  local h; h=$(hex "$1")
  while [ ${#h} -lt $(($2 * 2)) ]; do h="${h}00"; done
  printf '%s' "$h"
}
as_cmake_reads() {  # a -D text -> the value CMake keeps
  case "$1" in
    \'*\') [ ${#1} -ge 2 ] && { printf '%s' "${1:1:${#1}-2}"; return; } ;;
  esac
  printf '%s' "$1"
}
field() { od -An -tx1 -v -j "$1" -N "$2" "$record" | tr -d ' \n'; }

row() {  # name version access-code log-tag variant variant-byte
  local name="$1" version="$2" access="$3" tag="$4" variant="$5" want_variant="$6"
  rm -f "$record"
  if ! "$cmake" -S "$src" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORVEN_TESTS=OFF \
       "-DZORVEN_PACKAGE_VERSION=$version" "-DZORVEN_PACKAGE_ACCESS_CODE=$access" \
       "-DZORVEN_PACKAGE_LOG_TAG=$tag" "-DZORVEN_PACKAGE_VARIANT=$variant" > "$work.log" 2>&1; then
    echo "FAIL $name: configure"; cat "$work.log"; fails=$((fails + 1)); return
  fi
  if ! "$cmake" --build "$work" --target zorven_package_record_default > "$work.log" 2>&1; then
    echo "FAIL $name: build"; tail -20 "$work.log"; fails=$((fails + 1)); return
  fi
  local got
  version=$(as_cmake_reads "$version") access=$(as_cmake_reads "$access") tag=$(as_cmake_reads "$tag")
  got=$(field 33 256);     [ "$got" = "$(padded "$version" 256)" ] || { echo "FAIL $name: version $got"; fails=$((fails + 1)); }
  got=$(field 655649 6);   [ "$got" = "$(hex "$access")" ]         || { echo "FAIL $name: access code $got"; fails=$((fails + 1)); }
  got=$(field 655655 129); [ "$got" = "$(padded "$tag" 129)" ]     || { echo "FAIL $name: log tag $got"; fails=$((fails + 1)); }
  got=$(field 32 1);       [ "$got" = "$want_variant" ]           || { echo "FAIL $name: variant $got"; fails=$((fails + 1)); }
  [ "$(stat -c %s "$record")" = 655784 ] || { echo "FAIL $name: record size"; fails=$((fails + 1)); }
}

mkdir -p "$work"
#   name              version                               access code  log tag                          variant  byte
row empty-version     ''                                    'ZV4711'     'ZORVEN-SAMPLE'                  4        04
row semicolons        'V1;beta'                             'a;b c"'     'LINE;7;;'                       4        04
row quotes-blanks     "' \"V 2\" it's  '"                  '"'\'' ;\x'   "'tag with  two  blanks '"        0x1f     1f
row cmake-syntax      '$<1:gone> ${ZORVEN_TESTS} \n \\ #'    '$<1:x>'     '$<SEMICOLON>;${x}@ONLY@'        010      0a
row empty-tag-control 'V3'                                  $'AB\tC\x01D' ''                               2        02

[ "$fails" = 0 ] && echo "package values through the build: all rows reach the record unchanged"
exit $((fails != 0))
