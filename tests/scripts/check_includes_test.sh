#!/usr/bin/env bash
# scripts/check-includes on a small tree of its own: every kind of include
# that points where its layer may not look is reported with its file and
# line, and nothing else is.
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

put() {  # put FILE LINE...
  mkdir -p "$tree/$(dirname "$1")"
  local file=$1
  shift
  printf '%s\n' "$@" >"$tree/$file"
}

put thread/t.h '#pragma once' '#include <thread>'
put engine/e.h '#pragma once' '#include "thread/t.h"'
put base/b.h '#pragma once' '#include "engine/e.h"' '#include <queue>'
put base/runtime_folder.h '#pragma once'
put update/u.h '#pragma once' '#include "base/b.h"' '#include "ui/logic/l.h"'
put ui/logic/l.h '#pragma once' '#include "update/u.h"' '#include "base/b.h"'
put ui/qt/v.h '#pragma once' '#include <QWidget>' '#include "popup/p.h"' '#include "ui/logic/l.h"'
put popup/p.h '#pragma once' '#include <QString>' '#include "base/runtime_folder.h"'
put app/m.cpp '#include "ui/qt/v.h"' '#include "popup/p.h"' '#include "thread/t.h"'
put tests/support/s.h '#pragma once' '#include "engine/e.h"'
put tests/start/helper.h '#pragma once'
put tests/engine/e_test.cpp '#include "engine/e.h"' '#include "support/s.h"'
put tests/e2e/x_test.cpp '#include "app/m.h"'

# A tree whose arrows all point down passes quietly.
output=$(bash "$check" "$tree" 2>&1) || { echo "clean tree failed: $output"; exit 1; }
[ -z "$output" ] || { echo "clean tree printed: $output"; exit 1; }

# Upward, Qt in a layer without Qt, tosk reaching into the renamer, a path
# through "..", and a test of a lower layer.
put engine/e.cpp '#include "engine/e.h"' '#include "base/b.h"'
put engine/q.cpp '#include <QString>' '  #  include <QtCore/QObject>'
put base/b.cpp '#include "base/b.h"' '#include "update/u.h"' '#include "app/m.h"'
put update/u.cpp '#include "ui/qt/v.h"'
put ui/logic/l.cpp '#include "l.h"' '#include "../qt/v.h"'
put ui/qt/v.cpp '#include "app/m.h"'
put popup/p.cpp '#include "popup/p.h"' '#include "base/b.h"' '#include "ui/logic/l.h"'
put tests/engine/f_test.cpp '#include "support/s.h"' '#include "base/b.h"' '#include "start/helper.h"'
put tests/ui/l_test.cpp '#include <QTest>'

expected='base/b.cpp:2: #include "update/u.h"
base/b.cpp:3: #include "app/m.h"
engine/e.cpp:2: #include "base/b.h"
engine/q.cpp:1: #include <QString>
engine/q.cpp:2: #  include <QtCore/QObject>
popup/p.cpp:2: #include "base/b.h"
popup/p.cpp:3: #include "ui/logic/l.h"
tests/engine/f_test.cpp:2: #include "base/b.h"
tests/engine/f_test.cpp:3: #include "start/helper.h"
tests/ui/l_test.cpp:1: #include <QTest>
ui/logic/l.cpp:2: #include "../qt/v.h"
ui/qt/v.cpp:1: #include "app/m.h"
update/u.cpp:1: #include "ui/qt/v.h"'
status=0
output=$(bash "$check" "$tree" 2>/dev/null) || status=$?
[ "$status" -eq 1 ] || { echo "expected failure, got status $status"; exit 1; }
if [ "$output" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$output") || true
  exit 1
fi
echo "check-includes reports exactly the 13 offending lines"
