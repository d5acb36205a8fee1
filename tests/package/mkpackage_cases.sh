#!/usr/bin/env bash
# The package builder refuses bad input with a message and a non-zero exit, and writes no
# record; good input gives a record of exactly 655,784 bytes with the fields where they belong.
set -u
tool="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0

head -c 1000 /dev/urandom > "$work/small.img"
head -c 655360 /dev/urandom > "$work/full.img"
head -c 655361 /dev/urandom > "$work/big.img"
: > "$work/empty.img"
long256=$(printf 'V%.0s' $(seq 256))
long255=$(printf 'V%.0s' $(seq 255))
tag129=$(printf 'T%.0s' $(seq 129))
tag128=$(printf 'T%.0s' $(seq 128))
ok=(--version "V1" --variant 4 --scramble 1 --access-code ABCDEF --log-tag TAG)

refuse() {  # name, then arguments; must exit 2 with the builder's own message, and leave no record
  local name="$1" status=0; shift
  rm -f "$work/out.bin"
  "$tool" --out "$work/out.bin" "$@" 2> "$work/err" || status=$?
  if [ "$status" = 0 ]; then
    echo "FAIL $name: accepted"; fails=$((fails + 1))
  elif [ "$status" != 2 ] || ! grep -q '^zorven-mkpackage: ' "$work/err"; then
    # A builder that did not run (missing, not executable) fails with the shell's status and words.
    echo "FAIL $name: exit status $status, not the builder's refusal: $(head -c 200 "$work/err")"; fails=$((fails + 1))
  elif [ -e "$work/out.bin" ] || [ -e "$work/out.bin.tmp" ]; then
    echo "FAIL $name: left a record behind"; fails=$((fails + 1))
  fi
}

accept() {
  local name="$1"; shift
  rm -f "$work/out.bin"
  if ! "$tool" --out "$work/out.bin" "$@" 2> "$work/err"; then
    echo "FAIL $name: refused: $(cat "$work/err")"; fails=$((fails + 1))
  elif [ "$(stat -c %s "$work/out.bin")" != 655784 ]; then
    echo "FAIL $name: record size $(stat -c %s "$work/out.bin")"; fails=$((fails + 1))
  fi
}

field() {  # offset length -> hex
  od -An -tx1 -v -j "$1" -N "$2" "$work/out.bin" | tr -d ' \n'
}

refuse image-too-large --image "$work/big.img" "${ok[@]}"
refuse image-empty --image "$work/empty.img" "${ok[@]}"
refuse image-missing --image "$work/nothere.img" "${ok[@]}"
refuse version-256 --image "$work/small.img" --version "$long256" --variant 4 --scramble 1 --access-code ABCDEF --log-tag T
refuse access-5 --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code ABCDE --log-tag T
refuse access-7 --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code ABCDEFG --log-tag T
refuse tag-129 --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code ABCDEF --log-tag "$tag129"
refuse variant-256 --image "$work/small.img" --version V --variant 256 --scramble 1 --access-code ABCDEF --log-tag T
refuse variant-negative --image "$work/small.img" --version V --variant -1 --scramble 1 --access-code ABCDEF --log-tag T
refuse variant-text --image "$work/small.img" --version V --variant four --scramble 1 --access-code ABCDEF --log-tag T
refuse variant-blank --image "$work/small.img" --version V --variant " 4" --scramble 1 --access-code ABCDEF --log-tag T
refuse variant-plus --image "$work/small.img" --version V --variant +4 --scramble 1 --access-code ABCDEF --log-tag T
refuse variant-hex-no-0x --image "$work/small.img" --version V --variant 1f --scramble 1 --access-code ABCDEF --log-tag T
refuse variant-bare-0x --image "$work/small.img" --version V --variant 0x --scramble 1 --access-code ABCDEF --log-tag T
refuse variant-point --image "$work/small.img" --version V --variant 4.0 --scramble 1 --access-code ABCDEF --log-tag T
refuse variant-empty --image "$work/small.img" --version V --variant "" --scramble 1 --access-code ABCDEF --log-tag T
refuse scramble-binary --image "$work/small.img" --version V --variant 4 --scramble 0b1 --access-code ABCDEF --log-tag T
refuse scramble-negative --image "$work/small.img" --version V --variant 4 --scramble -1 --access-code ABCDEF --log-tag T
refuse scramble-hex-too-big --image "$work/small.img" --version V --variant 4 --scramble 0x100000000 --access-code ABCDEF --log-tag T
refuse presence-trailing-blank --image "$work/small.img" "${ok[@]}" --presence "-1 "
refuse presence-too-big --image "$work/small.img" "${ok[@]}" --presence 2147483648
refuse access-del --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code $'ABCDE\x7f' --log-tag T
refuse access-high-bit --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code $'ABCDE\xe9' --log-tag T
refuse access-utf8 --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code $'ABCD\xc3\xa9' --log-tag T
refuse access-hex-high --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code-hex 414243444580 --log-tag T
refuse access-hex-nul --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code-hex 414243444500 --log-tag T
refuse version-hex-odd --image "$work/small.img" --version-hex 563 --variant 4 --scramble 1 --access-code ABCDEF --log-tag T
refuse version-hex-not-hex --image "$work/small.img" --version-hex 56zz --variant 4 --scramble 1 --access-code ABCDEF --log-tag T
refuse version-hex-nul --image "$work/small.img" --version-hex 560031 --variant 4 --scramble 1 --access-code ABCDEF --log-tag T
refuse tag-hex-129 --image "$work/small.img" --version V --variant 4 --scramble 1 --access-code ABCDEF --log-tag-hex "$(printf '54%.0s' $(seq 129))"
refuse no-image "${ok[@]}"
refuse unknown-option --image "$work/small.img" "${ok[@]}" --colour red

accept full-image --image "$work/full.img" "${ok[@]}"
accept longest-texts --image "$work/small.img" --version "$long255" --variant 255 --scramble 0 --access-code ABCDEF --log-tag "$tag128"
accept sample --sample-image 1000 --version V1 --variant 3 --scramble 7 --access-code 'Q1;W2E' --log-tag LINE7 --presence -1 --reserved 00112233445566778899aabbccddeeff
expect() {
  local name="$1" got="$2" want="$3"
  if [ "$got" != "$want" ]; then echo "FAIL $name: $got != $want"; fails=$((fails + 1)); fi
}
expect marker "$(field 0 4)" e7913c5a
expect scramble "$(field 4 4)" 07000000
expect reserved "$(field 8 16)" 00112233445566778899aabbccddeeff
expect presence "$(field 24 4)" ffffffff
expect length "$(field 28 4)" e8030000
expect variant "$(field 32 1)" 03
expect version "$(field 33 3)" 563100
expect access "$(field 655649 6)" 51313b573245
expect tag "$(field 655655 6)" 4c494e453700

# One field of a good record: name, offset, length, the field's bytes in hex, then the arguments.
record() {
  local name="$1" offset="$2" length="$3" want="$4"; shift 4
  accept "$name" --image "$work/small.img" "$@"
  [ -e "$work/out.bin" ] && expect "$name" "$(field "$offset" "$length")" "$want"
}
zeros256=$(printf '00%.0s' $(seq 256))
v=(--version V --scramble 1 --access-code ABCDEF --log-tag T)
record variant-decimal-leading-zero 32 1 0a --variant 010 "${v[@]}"
record variant-08-is-eight 32 1 08 --variant 08 "${v[@]}"
record variant-hex 32 1 ff --variant 0xFF "${v[@]}"
record variant-hex-upper-x 32 1 1f --variant 0X1f "${v[@]}"
record scramble-hex-max 4 4 ffffffff "${ok[@]}" --scramble 0xffffffff
record scramble-leading-zero 4 4 0b000000 "${ok[@]}" --scramble 011
record presence-negative-hex 24 4 ffffffff "${ok[@]}" --presence -0x1
record presence-leading-zero 24 4 64000000 "${ok[@]}" --presence 0100
record version-empty 33 256 "$zeros256" --version "" --variant 4 --scramble 1 --access-code ABCDEF --log-tag T
record version-hex-empty 33 256 "$zeros256" --version-hex "" --variant 4 --scramble 1 --access-code ABCDEF --log-tag T
record version-hex 33 5 563b312200 --version-hex 563B3122 --variant 4 --scramble 1 --access-code ABCDEF --log-tag T
record access-controls-kept 655649 6 011f41207e09 --version V --variant 4 --scramble 1 --access-code $'\x01\x1fA ~\t' --log-tag T
record access-hex 655649 6 3b2220245c7e --version V --variant 4 --scramble 1 --access-code-hex 3b2220245c7e --log-tag T
record tag-hex-empty 655655 2 0000 --version V --variant 4 --scramble 1 --access-code ABCDEF --log-tag-hex ""
record presence-default 24 4 00c00700 "${ok[@]}"
# --sample-image with an empty size, as with none, fills the whole image area.
accept sample-empty-size --sample-image "" "${ok[@]}"
[ -e "$work/out.bin" ] && expect sample-empty-size "$(field 28 4)" 00000a00

# The help is generated from the options: each is listed with its range or default.
help=$("$tool" --help) || { echo "FAIL help: exit status $?"; fails=$((fails + 1)); }
for part in '--out FILE REQUIRED' '--variant N:UINT in [0 - 255] REQUIRED' '--scramble N:UINT in [0 - 4294967295]' \
            '--presence N:INT in [-2147483648 - 2147483647]=507904' '--sample-image [BYTES]:UINT in [0 - 655360]=655360' \
            --image --version-hex --access-code-hex --log-tag-hex --reserved; do
  case "$help" in *"$part"*) ;; *) echo "FAIL help lacks: $part"; fails=$((fails + 1)) ;; esac
done

[ "$fails" = 0 ] && echo "package builder: all cases behave"
exit $((fails != 0))
