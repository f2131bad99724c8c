#!/usr/bin/env bash
# scripts/tidy.sh on a tree of its own: three sources with one set of compile flags, two of which
# define a helper of the same name (a clash once they are read as one unit) and one of which breaks
# the naming rule. The clash must cost nothing but a second round, the finding must be reported
# wherever its source ended up, and a mended tree must pass.
#   tidy.sh <source folder>
set -uo pipefail

src=$1
command -v clang-tidy >/dev/null || { echo "clang-tidy is missing"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/scripts" "$tmp/platform" "$tmp/build"
cp "$src/scripts/tidy.sh" "$tmp/scripts/"
cp "$src/.clang-tidy" "$tmp/"

cat >"$tmp/platform/First.cpp" <<'EOF'
namespace {
int Helper(int Value)
{
    return Value + 1;
}
} // namespace

int First(int Value)
{
    return Helper(Value);
}
EOF
cat >"$tmp/platform/Second.cpp" <<'EOF'
namespace {
int Helper(int Value)
{
    return Value * 2;
}
} // namespace

int Second(int Value)
{
    const int Doubled = Helper(Value);
    return Doubled;
}
EOF
cat >"$tmp/platform/Third.cpp" <<'EOF'
int Third(int Value)
{
    return Value - 1;
}
EOF
python3 - "$tmp" <<'PY'
import json, os, sys
root = sys.argv[1]
json.dump([{'directory': root + '/build', 'file': '%s/platform/%s.cpp' % (root, name),
            'command': 'c++ -std=c++20 -c %s/platform/%s.cpp -o %s.o' % (root, name, name)}
           for name in ('First', 'Second', 'Third')],
          open(root + '/build/compile_commands.json', 'w'))
PY

fail=0
bash "$tmp/scripts/tidy.sh" build >"$tmp/out" 2>&1
status=$?
cat "$tmp/out"
if [ $status -eq 0 ]; then
  echo "FAIL: a tree with a finding passed"
  fail=1
fi
if ! grep -q "^platform/Second.cpp:10:15: .*local variable 'Doubled'.*\[readability-identifier-naming\]" "$tmp/out"; then
  echo "FAIL: the finding in the source that clashed is not reported"
  fail=1
fi
if grep -qi 'redefinition' "$tmp/out"; then
  echo "FAIL: the clash between two sources is reported as a finding"
  fail=1
fi
if ! grep -q '3 sources in .* over 2 rounds: 1 findings' "$tmp/out"; then
  echo "FAIL: the summary is not three sources, two rounds and one finding"
  fail=1
fi

sed -i 's/Doubled/doubled/g' "$tmp/platform/Second.cpp"
bash "$tmp/scripts/tidy.sh" build >"$tmp/out" 2>&1
status=$?
cat "$tmp/out"
if [ $status -ne 0 ]; then
  echo "FAIL: the mended tree did not pass"
  fail=1
fi

# A clash within one source is a real error, not a reason for another round.
printf 'int Third(int Value) { return Value; }\n' >>"$tmp/platform/Third.cpp"
bash "$tmp/scripts/tidy.sh" build >"$tmp/out" 2>&1
status=$?
cat "$tmp/out"
if [ $status -eq 0 ] || ! grep -q '^platform/Third.cpp:.*redefinition' "$tmp/out"; then
  echo "FAIL: a source that does not compile passed"
  fail=1
fi
exit $fail
