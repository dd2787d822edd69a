#!/usr/bin/env bash
# Each program's manual page against the program: the options its --help lists are
# the ones the page's OPTIONS describe, no more and no fewer, and groff reads the
# page without a warning.
set -uo pipefail
pages=$1
cli=$2
combine=$3
viewer=$4

# page | the command that prints the program's options, empty for a program that takes none
cases=(
  "meridane-cli|$cli --help"
  "meridane-combine|$combine --help"
  'meridane|'
  "meridane-viewer|$viewer --help"
)

# The options of CLI11's help: its lines starting "  -", up to the first blank.
help_options() { grep -E '^  -' | awk '{print $1}' | tr ',' '\n' | sort -u; }

# The options a page names in the tags of its OPTIONS section.
page_options() {
  awk '/^\.SH /{inside = ($2 == "OPTIONS")} inside && tag {print} {tag = ($0 == ".TP")}' "$1" |
    sed 's/\\-/-/g' | grep -oE '(^|[ "])--?[a-z][a-z-]*' | tr -d ' "' | sort -u
}

failures=0
for row in "${cases[@]}"; do
  IFS='|' read -r page command <<<"$row"
  file=$pages/$page.1
  if [ ! -f "$file" ]; then
    echo "no page $file"
    failures=$((failures + 1))
    continue
  fi
  expected=""
  [ -n "$command" ] && expected=$($command | help_options)
  got=$(page_options "$file")
  if [ "$got" != "$expected" ]; then
    echo "$page: the page's options differ from the program's (< program, > page):"
    diff <(echo "$expected") <(echo "$got") | grep -E '^[<>] .'
    failures=$((failures + 1))
  fi
  title=$(awk '$1 == ".TH" {print $2; exit}' "$file")
  if [ "$title" != "$(echo "$page" | tr a-z A-Z)" ]; then
    echo "$page: titled \"$title\""
    failures=$((failures + 1))
  fi
  warnings=$(sed 's/@PROJECT_VERSION@/0/' "$file" | groff -man -Tutf8 -ww -z 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page: groff says: $warnings"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "${#cases[@]} pages agree with their programs"
exit $((failures > 0))
