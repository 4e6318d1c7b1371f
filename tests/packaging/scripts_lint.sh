#!/usr/bin/env bash
# Runs shellcheck on every shell script of the project (found by its first line),
# and the operator's table of events against the code's report texts.
#   scripts_lint.sh SOURCE-DIR
set -euo pipefail
src=$1
cd "$src"
mapfile -t scripts < <(find . \( -path './build*' -o -path ./.git \) -prune -o -type f -print |
  while read -r f; do head -n1 "$f" 2>/dev/null | grep -qE '^#!.*(/|env )(ba|da)?sh\b' && echo "$f"; done | sort)
[ "${#scripts[@]}" -ge 10 ] || { echo "FAIL only ${#scripts[@]} shell scripts found"; exit 1; }
command -v shellcheck >/dev/null || { echo "FAIL shellcheck is not installed (scripts/install-deps.sh)"; exit 1; }
status=0
shellcheck "${scripts[@]}" || status=1
echo "shellcheck: ${#scripts[@]} scripts"
perl scripts/events-table.pl --check . || status=1
exit "$status"
