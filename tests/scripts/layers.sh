#!/usr/bin/env bash
# scripts/layers.sh on a tree of its own: one that keeps every rule must pass, and each break of a
# rule, put into it alone, must fail and be named where it stands.
#   layers.sh <source folder>
set -uo pipefail

src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/scripts" "$tmp/platform/files" "$tmp/dataaccess" "$tmp/sysinfo" "$tmp/dictdb" "$tmp/skin" "$tmp/ui"
cp "$src/scripts/layers.sh" "$tmp/scripts/"

# Every library with what it may include: its own headers and those below, the standard library,
# Qt, its outside libraries' headers, and (platform/ alone) the system interfaces.
cat >"$tmp/platform/files/Folder.cpp" <<'EOF'
#include "platform/files/Folder.h"

#include <QString>
#include <QtCore/qglobal.h>

#include <cerrno>
#include <gcrypt.h>
#include <curl/curl.h>
#include <xcb/xcb.h>
#include <zlib.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
EOF
cat >"$tmp/dataaccess/Stream.cpp" <<'EOF'
#include "dataaccess/Stream.h"
#include "platform/files/Folder.h"
#include <QByteArray>
#include <memory>
#include <stdint.h>
EOF
cat >"$tmp/sysinfo/AES.cpp" <<'EOF'
#include "sysinfo/AES.h"
#include "dataaccess/Stream.h"
#include <array>
EOF
cat >"$tmp/sysinfo/Processes.cpp" <<'EOF'
#include "sysinfo/Processes.h"
#include "platform/files/Folder.h"
#include <filesystem>
EOF
cat >"$tmp/dictdb/ZlibUnit.h" <<'EOF'
#pragma once
#include "dataaccess/Stream.h"
#include <zlib.h>
EOF
cat >"$tmp/dictdb/Hash_MD.cpp" <<'EOF'
#include "dictdb/ZlibUnit.h"
#include <gcrypt.h>
EOF
cat >"$tmp/dictdb/DBTools.cpp" <<'EOF'
#include "dictdb/DBTools.h"
#include "dictdb/ZlibUnit.h"
#include "sysinfo/AES.h"
EOF
cat >"$tmp/skin/SkinPng.cpp" <<'EOF'
#include "skin/SkinPng.h"
#include "platform/files/Folder.h"
#include <QWidget>
#include <png.h>
#include <zlib.h>
EOF
cat >"$tmp/ui/frmMain.cpp" <<'EOF'
#include "ui/frmMain.h"
#include "dictdb/DBTools.h"
#include "skin/SkinPng.h"
#include "sysinfo/Processes.h"
#include "platform/files/Folder.h"
#include <QChart>
#include <thread>
EOF

fail=0
# Runs the check on the tree; `expect` is "pass", or the line it must report.
check() {
  local what=$1 expect=$2 status
  bash "$tmp/scripts/layers.sh" >"$tmp/out" 2>&1
  status=$?
  if [ "$expect" = pass ]; then
    if [ $status -ne 0 ] || [ -s "$tmp/out" ]; then
      cat "$tmp/out"
      echo "FAIL: $what: a tree that keeps the rules did not pass"
      fail=1
    fi
  elif [ $status -eq 0 ]; then
    echo "FAIL: $what: passed"
    fail=1
  elif ! grep -qF -- "$expect" "$tmp/out"; then
    cat "$tmp/out"
    echo "FAIL: $what: not reported as \"$expect\""
    fail=1
  fi
}

check "the tree as it stands" pass

# Puts one line into a unit, checks, and takes the unit back.
with_line() {
  local unit=$1 line=$2 what=$3 expect=$4
  cp "$tmp/$unit" "$tmp/saved"
  echo "$line" >>"$tmp/$unit"
  check "$what" "$expect"
  mv "$tmp/saved" "$tmp/$unit"
}

n() { echo $(($(wc -l <"$tmp/$1") + 1)); }

# A Linux or POSIX header outside platform/.
with_line ui/frmMain.cpp '#include <unistd.h>' "a POSIX header in the ui" \
  "ui/frmMain.cpp:$(n ui/frmMain.cpp): <unistd.h> is a system interface"
with_line dictdb/Hash_MD.cpp '#  include <sys/stat.h>' "a Linux header in the engine" \
  "dictdb/Hash_MD.cpp:$(n dictdb/Hash_MD.cpp): <sys/stat.h> is a system interface"

# An include of a library above the includer's own, platform/ included.
with_line dictdb/Hash_MD.cpp '#include "ui/frmMain.h"' "the engine including the ui" \
  "dictdb/Hash_MD.cpp:$(n dictdb/Hash_MD.cpp): \"ui/frmMain.h\" is not below dictdb/"
with_line dictdb/Hash_MD.cpp '#include "dictdb/DBTools.h"' "the engine including the dictionary access" \
  "dictdb/Hash_MD.cpp:$(n dictdb/Hash_MD.cpp): \"dictdb/DBTools.h\" is not below dictdb/"
with_line platform/files/Folder.cpp '#include "dataaccess/Stream.h"' "platform/ including the data access" \
  "platform/files/Folder.cpp:$(n platform/files/Folder.cpp): \"dataaccess/Stream.h\" is not below platform/"

# An outside library's header not in the includer's table, the system's own X library included.
with_line ui/frmMain.cpp '#include <xcb/xcb.h>' "the X protocol library in the ui" \
  "ui/frmMain.cpp:$(n ui/frmMain.cpp): <xcb/xcb.h> is not a header ui/ may include"
with_line sysinfo/AES.cpp '#include <gcrypt.h>' "libgcrypt in the AES wrapper" \
  "sysinfo/AES.cpp:$(n sysinfo/AES.cpp): <gcrypt.h> is not a header sysinfo/ may include"
with_line dictdb/DBTools.cpp '#include <zlib.h>' "zlib in the dictionary access" \
  "dictdb/DBTools.cpp:$(n dictdb/DBTools.cpp): <zlib.h> is not a header dictdb/ may include"
with_line skin/SkinPng.cpp '#include <gcrypt.h>' "libgcrypt in the skin" \
  "skin/SkinPng.cpp:$(n skin/SkinPng.cpp): <gcrypt.h> is not a header skin/ may include"
with_line platform/files/Folder.cpp '#include <sqlite3.h>' "a library platform/ is not built on" \
  "platform/files/Folder.cpp:$(n platform/files/Folder.cpp): <sqlite3.h> is not a header platform/ may include"
with_line dataaccess/Stream.cpp '#include <boost/optional.hpp>' "an outside header where none is allowed" \
  "(outside headers there: none)"

# A unit just written is checked as well: CMake builds whatever source lies in the folders.
echo '#include <png.h>' >"$tmp/ui/New.cpp"
check "a new unit" "ui/New.cpp:1: <png.h> is not a header ui/ may include"
rm "$tmp/ui/New.cpp"

check "the tree mended" pass
exit $fail
