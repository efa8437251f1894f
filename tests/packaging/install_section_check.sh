#!/usr/bin/env bash
# Checks the README's "Installing" section against the packages: the paragraph that starts
# "`vigil` holds" against the agent's package and the one that starts "`vigil-console` holds"
# against the console package. Every path it names in backquotes (`/usr/sbin/VigilNT`) and every
# manual page (`VigilNT(8)`: /usr/share/man/man8/VigilNT.8.gz) is in that package, and every
# file of the package is named, itself or through a folder named (`/usr/lib/vigil`); the
# documents every Debian package has (/usr/share/doc, the lintian overrides) need no word.
#
#   install_section_check.sh README VIGIL_DEB CONSOLE_DEB
set -euo pipefail
README="$1"
fail=0

# The paragraph of the Installing section that starts with the given text, on one line.
paragraph() {
  awk -v start="$1" '
    /^## / { inside = ($0 == "## Installing"); next }
    !inside { next }
    /^$/ { if (taking) exit; next }
    !taking && index($0, start) == 1 { taking = 1 }
    taking { printf "%s ", $0 }' "$README"
}

# The paths a paragraph names: backquoted absolute paths, and manual pages as their files.
named_paths() {
  grep -o '`[^`]*`' <<<"$1" | tr -d '`' | while read -r token; do
    if [[ "$token" == /* ]]; then
      echo "${token%/}"
    elif [[ "$token" =~ ^([A-Za-z0-9_.+-]+)\(([1-9])\)$ ]]; then
      echo "/usr/share/man/man${BASH_REMATCH[2]}/${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.gz"
    fi
  done
}

check_package() {
  local package=$1 deb=$2 text
  text="$(paragraph "\`$package\` holds")"
  if [ -z "$text" ]; then
    echo "FAIL the README's Installing section has no paragraph \"\`$package\` holds\""; fail=1; return
  fi
  local listing files dirs named before=$fail
  fail=0
  listing="$(dpkg-deb -c "$deb")"
  files="$(awk '$1 !~ /^d/ { p = $6; sub(/^\./, "", p); print p }' <<<"$listing")"
  dirs="$(awk '$1 ~ /^d/ { p = $6; sub(/^\./, "", p); sub(/\/$/, "", p); if (p != "") print p }' <<<"$listing")"
  named="$(named_paths "$text")"
  local path
  while read -r path; do
    [ -n "$path" ] || continue
    if ! grep -Fqx -- "$path" <<<"$files" && ! grep -Fqx -- "$path" <<<"$dirs"; then
      echo "FAIL the README says $package holds $path; the package does not"; fail=1
    fi
  done <<<"$named"
  while read -r path; do
    case "$path" in /usr/share/doc/* | /usr/share/lintian/*) continue ;; esac
    local covered=0 name
    while read -r name; do
      [ -n "$name" ] || continue
      if [ "$path" = "$name" ] || [[ "$path" == "$name"/* ]]; then covered=1; break; fi
    done <<<"$named"
    [ "$covered" -eq 1 ] || { echo "FAIL $package holds $path; the README does not say so"; fail=1; }
  done <<<"$files"
  [ "$fail" -eq 0 ] && echo "ok   the README's list of $package matches the package ($(wc -l <<<"$named") names)"
  [ "$before" -eq 0 ] || fail=1
  return 0
}

check_package vigil "$2"
check_package vigil-console "$3"
exit "$fail"
