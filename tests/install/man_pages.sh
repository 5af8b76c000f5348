#!/usr/bin/env bash
# man_pages.sh VERSION PAGE...: renders each page as man would on a UTF-8
# terminal, with every groff warning on; any warning fails. Each page must
# have the sections of man-pages(7) and carry VERSION.
set -u
version=$1
shift
failures=0
for page in "$@"; do
  name=$(basename "$page")
  warnings=$(groff -man -ww -Tutf8 "$page" 2>&1 >/dev/null)
  if [[ -n $warnings ]]; then
    echo "$name: groff warns:"; echo "$warnings"
    failures=$((failures + 1))
  fi
  text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' EXAMPLES 'SEE ALSO'; do
    if ! grep -qx "$section" <<< "$text"; then
      echo "$name: no section $section"
      failures=$((failures + 1))
    fi
  done
  if ! grep -q "^\.TH .*\"$(basename "$name" .1) $version\"" "$page"; then
    echo "$name: the title line does not carry version $version"
    failures=$((failures + 1))
  fi
done
((failures == 0))
