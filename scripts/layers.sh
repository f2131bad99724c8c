#!/usr/bin/env bash
# Holds the layering of the README's "For developers" section in the libraries' sources: no Linux
# or POSIX header outside platform/ (the only code that talks to Linux), no include of a library
# above the includer's own, and of the outside libraries' headers only those of the libraries the
# includer is built on. Tests, benchmarks, fuzz targets and the build-time tools in resources/ are
# free to use all of them.
#   scripts/layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# The C and C++ standard libraries.
standard=' algorithm any array atomic barrier bit bitset cassert ccomplex cctype cerrno cfenv cfloat
  charconv chrono cinttypes ciso646 climits clocale cmath codecvt compare complex concepts
  condition_variable coroutine csetjmp csignal cstdalign cstdarg cstdbool cstddef cstdint cstdio
  cstdlib cstring ctgmath ctime cuchar cwchar cwctype deque exception execution expected filesystem
  format forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream
  iterator latch limits list locale map memory memory_resource mutex new numbers numeric optional
  ostream queue random ranges ratio regex scoped_allocator semaphore set shared_mutex source_location
  span sstream stack stdexcept stop_token streambuf string string_view strstream syncstream
  system_error thread tuple type_traits typeindex typeinfo unordered_map unordered_set utility
  valarray variant vector version
  assert.h complex.h ctype.h errno.h fenv.h float.h inttypes.h iso646.h limits.h locale.h math.h
  setjmp.h signal.h stdalign.h stdarg.h stdatomic.h stdbool.h stddef.h stdint.h stdio.h stdlib.h
  stdnoreturn.h string.h tgmath.h threads.h time.h uchar.h wchar.h wctype.h'
standard=" $(echo $standard) "
# Qt's headers: <QString>, <QtGlobal>, <QtCore/qstring.h>, <qglobal.h>.
qt_header='^(Q[A-Za-z0-9]*|Qt[A-Za-z0-9]*/[A-Za-z0-9_]+(\.h)?|q[a-z0-9_]+\.h)$'
# The headers of the system interfaces: POSIX's own, Linux's and the C library's extensions.
posix_dirs='^(sys|linux|asm|asm-generic|arpa|netinet|netpacket|net|bits|gnu|scsi|mtd|rdma|sound|video|xen|systemd)/'
posix_names=' aio.h alloca.h byteswap.h cpio.h dirent.h dlfcn.h elf.h endian.h err.h error.h execinfo.h fcntl.h
  features.h fmtmsg.h fnmatch.h ftw.h glob.h grp.h iconv.h ifaddrs.h langinfo.h libgen.h link.h malloc.h
  mntent.h monetary.h mqueue.h ndbm.h netdb.h nl_types.h paths.h poll.h pthread.h pty.h pwd.h regex.h
  sched.h search.h semaphore.h shadow.h spawn.h strings.h stropts.h sysexits.h syslog.h tar.h termios.h
  trace.h ulimit.h unistd.h utime.h utmp.h utmpx.h values.h wordexp.h'
posix_names=" $(echo $posix_names) "
include_line='^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"])([^>"]+)[>"]'

# The library a unit belongs to, as the CMakeLists.txt files cut the folders.
library_of() {
  case $1 in
  platform/*) echo platform ;;
  dataaccess/*) echo dataaccess ;;
  sysinfo/AES.* | sysinfo/MD5.*) echo sysinfo_crypto ;;
  sysinfo/*) echo sysinfo ;;
  dictdb/DBTools.* | dictdb/DBToolsLogging.*) echo dictaccess ;;
  dictdb/*) echo dictdb ;;
  skin/*) echo skin ;;
  ui/*) echo ui ;;
  esac
}

# What a library may include of the project: its own and those below it, bottom to top
# platform <- dataaccess <- dictdb engine <- dictionary access <- ui, with sysinfo and skin above
# platform. A trailing "/" is a whole folder; "-" marks headers of a higher library in the same
# folder.
declare -A below=(
  [platform]="platform/"
  [dataaccess]="dataaccess/ platform/"
  [sysinfo_crypto]="sysinfo/AES.h sysinfo/MD5.h dataaccess/ platform/"
  [sysinfo]="sysinfo/ -sysinfo/AES.h -sysinfo/MD5.h platform/"
  [dictaccess]="dictdb/ sysinfo/AES.h sysinfo/MD5.h dataaccess/ platform/"
  [dictdb]="dictdb/ -dictdb/DBTools.h -dictdb/DBToolsLogging.h dataaccess/ platform/"
  [skin]="skin/ platform/"
  [ui]="ui/ skin/ dictdb/ sysinfo/ dataaccess/ platform/"
)

# The outside libraries' headers (neither the standard library's nor Qt's) a library may include:
# those of the libraries it is built on. platform/ is built on libgcrypt, zlib, libcurl and the X
# protocol library (libsystemd's headers count as a system interface), the engine's cipher, hash
# and compression plug-ins on libgcrypt and zlib, the skin reader on libpng and zlib. The others
# have none: they reach the system and those libraries through platform/.
declare -A outside=(
  [platform]="gcrypt.h zlib.h curl/curl.h xcb/xcb.h"
  [dictdb]="gcrypt.h zlib.h"
  [skin]="png.h zlib.h"
)

may_include() {
  local header=$1 rule verdict=1
  for rule in $2; do
    case $rule in
    -*) [ "$header" = "${rule#-}" ] && return 1 ;;
    */) [[ $header == "$rule"* ]] && verdict=0 ;;
    *) [ "$header" = "$rule" ] && verdict=0 ;;
    esac
  done
  return $verdict
}

# Every source CMake builds into a library, whether git knows it yet or not.
folders=()
for folder in platform dataaccess sysinfo dictdb skin ui; do
  [ -d "$folder" ] && folders+=("$folder")
done
[ ${#folders[@]} -gt 0 ] || exit 0

failed=0
while IFS=: read -r unit n line; do
  [[ $line =~ $include_line ]] || continue
  header=${BASH_REMATCH[2]}
  library=$(library_of "$unit")
  if [ "${BASH_REMATCH[1]}" = "<" ]; then
    if [[ $standard == *" $header "* || $header =~ $qt_header ]]; then
      continue
    elif [[ $header =~ $posix_dirs || $posix_names == *" $header "* ]]; then
      if [ "$library" != platform ]; then
        echo "layers: $unit:$n: <$header> is a system interface: reach it through platform/"
        failed=1
      fi
    elif [[ " ${outside[$library]:-} " != *" $header "* ]]; then
      echo "layers: $unit:$n: <$header> is not a header ${unit%%/*}/ may include" \
        "(outside headers there: ${outside[$library]:-none})"
      failed=1
    fi
  elif [[ $header == */* ]] && ! may_include "$header" "${below[$library]}"; then
    echo "layers: $unit:$n: \"$header\" is not below ${unit%%/*}/ in the layer order"
    failed=1
  fi
done < <(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z |
  xargs -0 grep -nE '^[[:space:]]*#[[:space:]]*include' /dev/null)
exit $failed
