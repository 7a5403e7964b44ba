#!/bin/sh
# scripts/check-subjects on a history of its own, in a folder this test makes and removes: a
# subject of 72 characters passes (also one of more than 72 bytes), one of 73 fails, and so does
# a history without the starting commit.
check=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
commit() { git -C "$dir" -c user.name=Test -c user.email=test@localhost commit -q --allow-empty -m "$1"; }
git -C "$dir" init -q || fail "git init"
commit "$(printf 'Old: %0100d' 0)"
start=$(git -C "$dir" rev-parse HEAD)
sh "$check" "$dir" "$start" || fail "an empty range after a long older subject"
commit "$(printf 'Area: %066d' 0)"
sh "$check" "$dir" "$start" || fail "72 characters"
commit "Area: a subject of seventy-two characters where four are dashes  — — — —"
sh "$check" "$dir" "$start" || fail "72 characters with multi-byte dashes"
commit "$(printf 'Area: %067d' 0)"
sh "$check" "$dir" "$start" 2>/dev/null && fail "73 characters passed"
sh "$check" "$dir" 0000000000000000000000000000000000000000 2>/dev/null && fail "a missing start passed"
echo "check-subjects: all cases pass"
