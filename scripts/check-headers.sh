#!/bin/bash
# Keeps the platform contract honest:
#  1. every header of platform/, base/ and protocol/ compiles after
#     <windows.h> with the Windows cross compiler (no name of the program
#     collides with one of the system's macros or declarations);
#  2. outside platform/, only the folders that must talk to the system
#     themselves include a POSIX header.
set -uo pipefail
cd "$(dirname "$0")/.."

cxx=${CXX_WINDOWS:-i686-w64-mingw32-g++-posix}
status=0

if ! command -v "$cxx" >/dev/null; then
    echo "check-headers: $cxx not found (scripts/install-deps.sh --windows)" >&2
    exit 2
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
checked=0
for header in platform/*.h platform/*/*.h base/*.h protocol/*.h; do
    [ -e "$header" ] || continue
    printf '#include <windows.h>\n#include "%s"\n' "$header" >"$tmp/check.cpp"
    if ! "$cxx" -std=c++20 -fsyntax-only -I. "$tmp/check.cpp" 2>"$tmp/errors"; then
        echo "check-headers: $header does not compile after <windows.h>:" >&2
        grep -m 10 'error' "$tmp/errors" >&2
        status=1
    fi
    checked=$((checked + 1))
done

# System headers of POSIX and Linux; the C and C++ standard headers are fine
# everywhere.
posix='unistd|termios|poll|fcntl|pthread|dlfcn|signal|dirent|pwd|grp|sched|semaphore|spawn|syslog|netdb|ifaddrs|pty|utmp|libgen|glob|fnmatch|wordexp|strings|sys/[a-z_/]+|arpa/[a-z_]+|netinet/[a-z_]+|net/[a-z_]+|linux/[a-z_/]+|asm/[a-z_]+'
allowed='^(platform|usb|sim|cli|app|tools|tests|bench|fuzz|build)/'
hits=$(grep -rnE --include='*.h' --include='*.cpp' --include='*.cc' \
    "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($posix)\.h>" . |
    sed 's|^\./||' | grep -vE "$allowed")
if [ -n "$hits" ]; then
    echo "check-headers: POSIX headers outside the folders that may call the system:" >&2
    echo "$hits" >&2
    status=1
fi

[ $status -eq 0 ] && echo "check-headers: $checked headers compile after <windows.h>; no stray POSIX includes"
exit $status
