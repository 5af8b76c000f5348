#!/usr/bin/env bash
# run_case.sh LUMBRA LUMBRA_KIT CASE.sh
#
# Runs one command-line case in a fresh temporary folder, where `lumbra` and
# `lumbra-kit` on the PATH are the binaries under test, and compares its stdout, stderr and exit
# status byte for byte with CASE.stdout, CASE.stderr and CASE.status.
#
#   LUMBRA_WRAP="valgrind ..."  runs the binary under a wrapper
#   LUMBRA_REGEN=1              writes the expected files instead (review the diff)
#
# A case script may use $CASE_DATA (tests/cli/data) and must end with the
# command whose status counts. A case that cannot run here prints
# "SKIP: reason" on stderr and exits with 77; CTest then shows it as skipped.
set -u
binary=$1
kit_binary=$2
case_file=$3
base=${case_file%.sh}
name=$(basename "$base")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/run"
{
  echo '#!/usr/bin/env bash'
  echo "exec ${LUMBRA_WRAP:-} \"$binary\" \"\$@\""
} > "$work/bin/lumbra"
{
  echo '#!/usr/bin/env bash'
  echo "exec ${LUMBRA_WRAP:-} \"$kit_binary\" \"\$@\""
} > "$work/bin/lumbra-kit"
chmod +x "$work/bin/lumbra" "$work/bin/lumbra-kit"

# The binary itself, for the rare line a wrapper cannot run.
export CASE_DATA LUMBRA_KIT_UNWRAPPED=$kit_binary
CASE_DATA=$(cd "$(dirname "$case_file")/../data" 2>/dev/null && pwd)
(cd "$work/run" && PATH="$work/bin:$PATH" bash "$case_file" > "$work/stdout" 2> "$work/stderr" < /dev/null)
echo $? > "$work/status"

if [[ $(cat "$work/status") == 77 ]] && grep -q '^SKIP: ' "$work/stderr"; then
  echo "=== $name: skipped"
  sed -n 's/^SKIP: //p' "$work/stderr"
  exit 77
fi

if [[ "${LUMBRA_REGEN:-}" == 1 ]]; then
  cp "$work/stdout" "$base.stdout"
  cp "$work/stderr" "$base.stderr"
  cp "$work/status" "$base.status"
  echo "regenerated $name"
  exit 0
fi

failed=0
# Every picture a case drew: well-formed, a panel per judged statistic, no
# text clipped (when a python3 is at hand).
mapfile -t pictures < <(find "$work/run" -name '*.svg' -size +0)
if [[ ${#pictures[@]} -gt 0 ]] && command -v python3 > /dev/null &&
   ! python3 "$(dirname "$0")/check_plots.py" "${pictures[@]}"; then
  failed=1
  echo "=== $name: a picture is wrong (above)"
fi
for part in stdout stderr status; do
  if ! cmp -s "$base.$part" "$work/$part"; then
    failed=1
    echo "=== $name: $part differs (expected, then actual; cat -A)"
    cat -A "$base.$part" 2>/dev/null | head -40
    echo "---"
    cat -A "$work/$part" | head -40
  fi
done
exit $failed
