#!/usr/bin/env bash
# seams.sh on a tree of its own: every kind of name declared under the seam switch is listed (a
# function, a member, a class, a type alias, a variable, in a namespace or a class body), and
# nothing else: not what a function body inside such a block declares, not a name the other side
# of the switch declares too, not a name outside the switch.
#   seams_list.sh <source folder>
set -uo pipefail

src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/platform" "$tmp/dataaccess" "$tmp/sysinfo" "$tmp/dictdb" "$tmp/skin" "$tmp/ui"
cat >"$tmp/platform/Hooks.h" <<'EOF'
#pragma once
#include "platform/system/TestSeams.h"
namespace platform::files {
#if TASKVANE_TEST_SEAMS
// A hook { with braces } in a comment.
using HookType = void (*)();
void SetHook(HookType Hook);
class Observer
{
public:
    virtual void Seen(int What) = 0;
};
namespace detail {
void NoteSeen(int What);
} // namespace detail
TUiHooks &Hooks();
#else
const TUiHooks &Hooks();
#endif
void Plain(int Value);
} // namespace platform::files
EOF
cat >"$tmp/sysinfo/Counter.cpp" <<'EOF'
#include "sysinfo/Counter.h"
namespace {
#if TASKVANE_TEST_SEAMS
std::atomic<int> s_counted{0};
#endif
} // namespace
int TCounter::Count()
{
    int kept = 0;
#if TASKVANE_TEST_SEAMS
    if (kept == 0) {
        const QString text = "int notAName = 1;";
        kept = s_counted.load();
    }
#endif
    return kept;
}
#if TASKVANE_TEST_SEAMS
void detail::NoteSeen(int What)
{
    int local = What;
    s_counted += local;
}
#endif
EOF
cat >"$tmp/ui/Page.h" <<'EOF'
class TPage
{
public:
#if TASKVANE_TEST_SEAMS
    quint64 CellWrites = 0;
    static int Running();
    void SetFolder(const QString &Dir)
    {
        m_Folder = Dir;
    }
#endif
    void Show();

private:
#ifdef SOMETHING_ELSE
    int m_Other = 0;
#endif
#if TASKVANE_TEST_SEAMS
    QString m_Folder;
#endif
};
EOF
expected='CellWrites
HookType
NoteSeen
Observer
Running
SetFolder
SetHook
m_Folder
s_counted'
got=$(bash "$src/tests/package/seams.sh" "$tmp")
if [ "$got" != "$expected" ]; then
  echo "FAIL: the seams listed differ"
  diff <(echo "$expected") <(echo "$got")
  exit 1
fi
echo "ok: every name declared under the seam switch, and nothing else"
