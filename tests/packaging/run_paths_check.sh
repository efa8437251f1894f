#!/usr/bin/env bash
# Reads the run path (RUNPATH, and RPATH should one appear) of every program and shared library
# under DIR and refuses any entry that does not name a real folder: an empty entry (the working
# directory: a library planted where the program is started would be loaded), a relative one
# (resolved against the working directory too), or one that names no folder. $ORIGIN entries
# are taken from the file's own folder; absolute ones are resolved under ROOT (default /), the
# unpacked package's root when DIR is one.
#
#   run_paths_check.sh [--root ROOT] DIR [FILE...]   FILE: paths below DIR that must be read
set -euo pipefail
ROOT=""
if [ "${1:-}" = --root ]; then
  ROOT="${2%/}"
  shift 2
fi
DIR="${1%/}"
shift

# One readelf for every candidate (/dev/null first, so that it always names each file it reads):
# "ELF <file>" for each ELF file, "PATH <file> <kind> <value>" for each run path.
report="$(find "$DIR" -type f \( -perm -u+x -o -name '*.so' -o -name '*.so.*' \) -print0 |
  { xargs -0 -r readelf -d -W /dev/null 2>/dev/null || true; } |
  awk '/^File: / { file = substr($0, 7); print "ELF " file; next }
       /\((RUNPATH|RPATH)\)/ { kind = $2; gsub(/[()]/, "", kind)
                               value = $0; sub(/^[^[]*\[/, "", value); sub(/\]$/, "", value)
                               print "PATH " file "\t" kind "\t" value }')"

fail=0
checked=0
declare -A seen=()
while IFS= read -r line; do
  case "$line" in
    '') continue ;;
    "ELF "*)
      f="${line#ELF }"
      seen["${f#"$DIR"/}"]=1
      checked=$((checked + 1))
      continue ;;
  esac
  IFS=$'\t' read -r f kind value <<<"${line#PATH }"
  rel="${f#"$DIR"/}"
  IFS=: read -r -a entries <<<"$value:"
  [ -n "$value" ] || entries=("")
  empty=0
  for e in "${entries[@]}"; do
    case "$e" in
      '') empty=$((empty + 1)); continue ;;
      '$ORIGIN'*) folder="${f%/*}${e#'$ORIGIN'}" ;;
      '${ORIGIN}'*) folder="${f%/*}${e#'${ORIGIN}'}" ;;
      /*) folder="$ROOT$e" ;;
      *) echo "FAIL $rel: $kind entry $e is relative (to the working directory)"; fail=1; continue ;;
    esac
    [ -d "$folder" ] || { echo "FAIL $rel: $kind entry $e names no folder"; fail=1; }
  done
  if [ "$empty" -gt 0 ]; then
    echo "FAIL $rel: $kind [$value] has $empty empty entries (the working directory)"; fail=1
  fi
done <<<"$report"

for want in "$@"; do
  [ -n "${seen[$want]:-}" ] || { echo "FAIL $want was not among the files read"; fail=1; }
done
[ "$checked" -gt 0 ] || { echo "FAIL no program or library under $DIR"; fail=1; }
[ "$fail" -eq 0 ] && echo "run paths: $checked programs and libraries, every entry a real folder"
exit "$fail"
