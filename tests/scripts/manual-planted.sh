#!/usr/bin/env bash
# The manual's check over small pages, one fault planted at a time: each found.
set -uo pipefail
check=$1
help=$(mktemp -d)
trap 'rm -rf "$help"' EXIT
# page body | the check passes (0) or fails (1)
cases=(
  '<h2 id="a">A</h2><a href="#a">A</a><img src="one.png"><a href="https://example.org/">x</a>|0'
  '<h2 id="a">A</h2><a href="#b">B</a><img src="one.png">|1'
  '<img src="two.png"><img src="one.png">|1'
  '<p>no picture</p>|1'
)
failed=0
for c in "${cases[@]}"; do
  : >"$help/one.png"
  printf '<html><body>%s</body></html>\n' "${c%|*}" >"$help/index.html"
  status=0
  bash "$check" "$help" 2>/dev/null || status=$?
  [ "$status" = "${c##*|}" ] || { echo "status $status, not ${c##*|}: ${c%|*}" >&2; failed=1; }
done
rm -f "$help/index.html"
bash "$check" "$help" 2>/dev/null && { echo "a missing page passed" >&2; failed=1; }
exit $failed
