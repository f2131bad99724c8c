#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the program's own sources (the libraries,
# the program and the build-time tools; not tests, benchmarks or fuzz targets) and fails on any
# warning. Needs the compile database of a build folder (scripts/build.sh test makes one).
#   scripts/tidy.sh [build folder, default build-test]
#
# Every source costs the checks a walk over the Qt headers it includes, which is most of the
# time; so the sources that share compile flags are read as one unit that includes them all.
# Sources that clash there (two files with a helper of the same name) go to a unit of a later
# round, until no unit has a clash.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json" >&2; exit 1; }
command -v clang-tidy >/dev/null || { echo "tidy: clang-tidy is missing (scripts/install-deps.sh)" >&2; exit 1; }

exec python3 - "$build" "$(nproc)" <<'PY'
import collections, concurrent.futures, json, os, re, shlex, subprocess, sys

build, jobs = sys.argv[1], int(sys.argv[2])
root = os.getcwd()
folders = ('platform', 'sysinfo', 'ui', 'dictdb', 'skin', 'dataaccess', 'resources')
own = re.compile(r'^%s/(%s)/' % (re.escape(root), '|'.join(folders)))
work = os.path.join(build, 'tidy')
os.makedirs(work, exist_ok=True)

# Sources by identical compile flags.
groups = collections.defaultdict(list)
for entry in json.load(open(os.path.join(build, 'compile_commands.json'))):
    source = os.path.realpath(os.path.join(entry['directory'], entry['file']))
    if not own.match(source):
        continue
    args = shlex.split(entry['command']) if 'command' in entry else entry['arguments']
    flags, skip = [], 0
    for i, a in enumerate(args):
        if skip:
            skip -= 1
        elif a == '-o':
            skip = 1
        elif a == '-include' and i + 1 < len(args) and args[i + 1].endswith('cmake_pch.hxx'):
            skip = 1  # the build's precompiled header is GCC's, and the sources read without it
        elif a == '-Winvalid-pch':
            pass
        elif a != '-c' and os.path.realpath(os.path.join(entry['directory'], a)) != source:
            flags.append(a)
    groups[(tuple(flags), entry['directory'])].append(source)

header_filter = '^%s/(%s/include/[a-z]+/)?(%s)/' % (
    re.escape(root), re.escape(os.path.relpath(os.path.realpath(build), root)), '|'.join(folders))
diagnostic = re.compile(r'^(/[^:]+):(\d+):(\d+): (warning|error): (.*) \[([^\]]+)\]$')
clash = re.compile(r'redefinition|conflicting|redeclar|ambiguous|previous definition|'
                   r'shadows|must be unique|already defined|different types')

def run(number, flags, directory, sources):
    unit = os.path.abspath(os.path.join(work, 'unit%03d.cpp' % number))
    with open(unit, 'w') as f:
        f.writelines('#include "%s"\n' % s for s in sources)
    db = os.path.join(work, 'unit%03d' % number)
    os.makedirs(db, exist_ok=True)
    with open(os.path.join(db, 'compile_commands.json'), 'w') as f:
        json.dump([{'directory': directory, 'file': unit,
                    'command': ' '.join(shlex.quote(a) for a in flags) + ' -c ' + shlex.quote(unit)}], f)
    p = subprocess.run(['clang-tidy', '--quiet', '-p', db, '--header-filter=' + header_filter, unit],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors='replace')
    found = []
    for line in p.stdout.splitlines():
        m = diagnostic.match(line)
        if m:
            found.append((os.path.realpath(m.group(1)), int(m.group(2)), int(m.group(3)),
                          m.group(4), m.group(5), m.group(6).replace(',-warnings-as-errors', '')))
    return sources, found

pending = [(flags, directory, sources) for (flags, directory), sources in groups.items()]
reported, failed_units, number, rounds = set(), [], 0, 0
while pending:
    rounds += 1
    later = []
    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        futures = []
        for flags, directory, sources in pending:
            futures.append((flags, directory, pool.submit(run, number, list(flags), directory, sources)))
            number += 1
        for flags, directory, future in futures:
            sources, found = future.result()
            # A source with a clash in this unit is read again in a later one; what the
            # others report stands.
            clashed = {f for f, _, _, kind, text, check in found
                       if kind == 'error' and check == 'clang-diagnostic-error' and clash.search(text)
                       and f in sources}
            if clashed and len(clashed) == len(sources):
                clashed = set()  # a clash within one source is a real error
            for item in found:
                if item[0] in clashed or item[0].startswith(os.path.realpath(work) + '/'):
                    continue  # the unit's own includes of sources are what it is for
                if own.match(item[0]):
                    reported.add(item)
                elif item[3] == 'error':
                    failed_units.append((sources, item))
            if clashed:
                later.append((flags, directory, sorted(clashed)))
    pending = later

for f, line, col, kind, text, check in sorted(reported):
    print('%s:%d:%d: %s: %s [%s]' % (os.path.relpath(f, root), line, col, kind, text, check))
for sources, item in failed_units:
    print('tidy: %s:%d: %s (while reading %s)' % (item[0], item[1], item[4], ', '.join(sources)))
count = len(reported) + len(failed_units)
print('tidy: %d sources in %d units over %d rounds: %d findings' % (
    sum(len(s) for s in groups.values()), number, rounds, count))
sys.exit(1 if count else 0)
PY
