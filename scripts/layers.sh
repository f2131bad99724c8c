#!/usr/bin/env bash
# Holds the layering of the README's "For developers" section in the libraries' sources:
# no Linux or POSIX header outside platform/ (the only code that talks to Linux), and no
# include of a library above the includer's own. Tests, benchmarks, fuzz targets and the
# build-time tools in resources/ are free to use both.
#   scripts/layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# The headers of the system interfaces: POSIX's own, Linux's and the C library's extensions.
posix_dirs='^(sys|linux|asm|asm-generic|arpa|netinet|netpacket|net|bits|gnu|scsi|mtd|rdma|sound|video|xen|systemd)/'
posix_names=' aio.h alloca.h byteswap.h cpio.h dirent.h dlfcn.h elf.h endian.h err.h error.h execinfo.h fcntl.h
  features.h fmtmsg.h fnmatch.h ftw.h glob.h grp.h iconv.h ifaddrs.h langinfo.h libgen.h link.h malloc.h
  mntent.h monetary.h mqueue.h ndbm.h netdb.h nl_types.h paths.h poll.h pthread.h pty.h pwd.h regex.h
  sched.h search.h semaphore.h shadow.h spawn.h strings.h stropts.h sysexits.h syslog.h tar.h termios.h
  trace.h ulimit.h unistd.h utime.h utmp.h utmpx.h values.h wordexp.h'
posix_names=" $(echo $posix_names) "
include_line='^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"])([^>"]+)[>"]'

# What a unit may include of the project: its own library and those below it, bottom to top
# platform <- dataaccess <- dictdb engine <- dictionary access <- ui, with sysinfo and skin
# above platform. A trailing "/" is a whole folder; "-" marks headers of a higher library in
# the same folder.
allowed_for() {
  case $1 in
  dataaccess/*) echo "dataaccess/ platform/" ;;
  sysinfo/AES.* | sysinfo/MD5.*) echo "sysinfo/AES.h sysinfo/MD5.h dataaccess/ platform/" ;;
  sysinfo/*) echo "sysinfo/ -sysinfo/AES.h -sysinfo/MD5.h platform/" ;;
  dictdb/DBTools.*) echo "dictdb/ sysinfo/AES.h sysinfo/MD5.h dataaccess/ platform/" ;;
  dictdb/*) echo "dictdb/ -dictdb/DBTools.h dataaccess/ platform/" ;;
  skin/*) echo "skin/ platform/" ;;
  ui/*) echo "ui/ skin/ dictdb/ sysinfo/ dataaccess/ platform/" ;;
  esac
}

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

failed=0
while IFS=: read -r unit n line; do
  [[ $line =~ $include_line ]] || continue
  header=${BASH_REMATCH[2]}
  if [ "${BASH_REMATCH[1]}" = "<" ]; then
    if [[ $header =~ $posix_dirs || $posix_names == *" $header "* ]]; then
      echo "layers: $unit:$n: <$header> is a system interface: reach it through platform/"
      failed=1
    fi
  elif [[ $header == */* ]] && ! may_include "$header" "$(allowed_for "$unit")"; then
    echo "layers: $unit:$n: \"$header\" is not below ${unit%%/*}/ in the layer order"
    failed=1
  fi
done < <(git ls-files -z -- 'dataaccess/*.cpp' 'dataaccess/*.h' 'sysinfo/*.cpp' 'sysinfo/*.h' 'dictdb/*.cpp' \
  'dictdb/*.h' 'skin/*.cpp' 'skin/*.h' 'ui/*.cpp' 'ui/*.h' | xargs -0 grep -nE '^[[:space:]]*#[[:space:]]*include' /dev/null)
exit $failed
