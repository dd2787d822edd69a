#!/usr/bin/env bash
# The built manual: the page is there, and every picture and link in it leads to
# something: a file beside it, or a heading of the page.
set -euo pipefail
help=$1
page=$help/index.html
[ -s "$page" ] || { echo "no manual at $page" >&2; exit 1; }
failed=0
while read -r target; do
  case $target in
    http:* | https:* | mailto:*) ;;
    \#*) grep -q "id=\"${target#\#}\"" "$page" || { echo "no heading $target" >&2; failed=1; } ;;
    *) [ -f "$help/$target" ] || { echo "no file $target" >&2; failed=1; } ;;
  esac
done < <(grep -o -E '(src|href)="[^"]*"' "$page" | sed -E 's/^[a-z]+="(.*)"$/\1/')
# Every picture of the manual's folder is shown: a picture nobody refers to is
# one the pictures' test no longer takes.
for picture in "$help"/*.png; do
  grep -q "src=\"$(basename "$picture")\"" "$page" || { echo "$(basename "$picture") is not shown" >&2; failed=1; }
done
exit $failed
