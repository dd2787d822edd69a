#!/usr/bin/env bash
# scripts/layers over a small tree, one planted include at a time: each bad one
# named with its file and line, the allowed ones passed.
set -uo pipefail
layers=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/src/{geo,config,task,download,ui/qt,cli,combine,mosaren/qt}
for header in geo/G.h config/C.h task/T.h download/D.h ui/U.h ui/qt/Q.h cli/L.h; do : >"$tree/src/$header"; done

# file | include line | what the check says, empty when the include is allowed
cases=(
  'task/A.cpp|#include "geo/G.h"|'
  'task/A.cpp|#include "config/C.h"|'
  'download/A.cpp|#include "D.h"|'
  'cli/A.cpp|#include "task/T.h"|'
  'geo/A.cpp|#include "meridane/Version.h"|'
  'ui/qt/A.cpp|#include <QWidget>|'
  'mosaren/qt/A.cpp|#include <QWidget>|'
  'mosaren/qt/A.cpp|#include "ui/qt/Q.h"|'
  'mosaren/A.cpp|#include <QWidget>|Qt header <QWidget> outside a qt/ folder'
  'mosaren/A.cpp|#include "ui/qt/Q.h"|mosaren may not include "ui/qt/Q.h" of ui/qt'
  'task/A.cpp|#include <queue>|'
  'config/A.cpp|#include "geo/G.h"|config may not include "geo/G.h" of geo'
  'geo/A.cpp|#include "task/T.h"|geo may not include "task/T.h" of task'
  'task/A.cpp|#include "../download/D.h"|task may not include "../download/D.h" of download'
  'ui/A.cpp|#include "ui/qt/Q.h"|ui may not include "ui/qt/Q.h" of ui/qt'
  'cli/A.cpp|#include "ui/qt/Q.h"|cli may not include "ui/qt/Q.h" of ui/qt'
  'ui/qt/A.cpp|#include "cli/L.h"|ui/qt may not include "cli/L.h" of cli'
  'geo/A.cpp|#include "nowhere/N.h"|"nowhere/N.h" is no header of a library of src/'
  'ui/A.cpp|#include <QString>|Qt header <QString> outside a qt/ folder'
  'download/A.cpp|  #  include <QtCore/QObject>|Qt header <QtCore/QObject> outside a qt/ folder'
  'cli/A.h|#include <qglobal.h>|Qt header <qglobal.h> outside a qt/ folder'
  'combine/A.cpp|#include <QImage>|Qt header <QImage> outside a qt/ folder'
  'mosaren/A.cpp|#include "cli/L.h"|mosaren may not include "cli/L.h" of cli'
)
failures=0
for row in "${cases[@]}"; do
  IFS='|' read -r file include message <<<"$row"
  printf '// planted\n%s\n' "$include" >"$tree/src/$file"
  said=$(bash "$layers" "$tree")
  status=$?
  rm "$tree/src/$file"
  expected=${message:+src/$file:2: $message}
  if [ "$said" != "$expected" ] || { [ -n "$message" ] && [ $status -eq 0 ]; } || { [ -z "$message" ] && [ $status -ne 0 ]; }; then
    echo "$file with '$include': said '$said' (status $status), expected '$expected'"
    failures=$((failures + 1))
  fi
done

# No source at all is a failure, not a pass.
rm -r "$tree/src"
mkdir "$tree/src"
if bash "$layers" "$tree" >/dev/null; then
  echo "an empty src/ passed"
  failures=$((failures + 1))
fi
exit $((failures > 0))
