# Shared by the scripts: build folders, the Wine prefix, Xvfb.
# Source it; it defines variables and functions only.
IW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
IW_BUILD=$IW_ROOT/build
IW_NATIVE=$IW_BUILD/native       # g++ with AddressSanitizer + UBSan, for tests
IW_RELEASE=$IW_BUILD/release     # g++ optimised, for benchmarks and the CLI
IW_WIN=$IW_BUILD/win             # MinGW-w64
IW_FUZZ_BUILD=$IW_BUILD/fuzz     # clang with libFuzzer
# IW_WINEPREFIX names another prefix (the 150% test keeps its own).
export WINEPREFIX=${IW_WINEPREFIX:-$IW_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# Wine takes its ANSI code page from the locale: Traditional Chinese (950).
export IW_WINE_LANG=zh_TW.UTF-8

iw_jobs() { nproc 2>/dev/null || echo 2; }

# ccache, when present, keeps compiled objects across build folders and
# checkouts: paths are made relative to the checkout so two checkouts of the
# same sources share their objects.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$IW_ROOT}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  IW_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
else
  IW_LAUNCHER=()
fi

iw_configure() {  # dir, extra cmake args...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$IW_ROOT" -B "$dir" -G Ninja "${IW_LAUNCHER[@]}" "$@" >/dev/null
  else
    # Configure again so files added since the last build (the folders are
    # globbed) are part of this one.
    cmake "$dir" >/dev/null
  fi
}

iw_build_native() {
  iw_configure "$IW_NATIVE" -DCMAKE_BUILD_TYPE=Debug -DIW_SANITIZE=ON
  cmake --build "$IW_NATIVE" -j "$(iw_jobs)"
}

iw_build_release() {
  iw_configure "$IW_RELEASE" -DCMAKE_BUILD_TYPE=Release
  cmake --build "$IW_RELEASE" -j "$(iw_jobs)"
}

iw_build_win() {
  iw_configure "$IW_WIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$IW_ROOT/cmake/mingw-w64-x86_64.cmake"
  cmake --build "$IW_WIN" -j "$(iw_jobs)"
}

# Runs a command under Wine in the project's own prefix (created on first
# use), with the Traditional Chinese locale. Wine needs a display even for a
# console program (without one it never gets its sockets' events, and the
# session it leaves behind breaks later runs in the prefix), so a private
# Xvfb is started when there is none.
iw_wine() {
  iw_xvfb || return 1
  "$IW_ROOT/scripts/wine-prefix" >/dev/null
  LANG=$IW_WINE_LANG LC_ALL=$IW_WINE_LANG wine "$@"
}

# Starts Xvfb on a free display unless one is already set and answering.
# Xvfb chooses the display number itself (-displayfd) and takes it with its
# lock file, so two runs on one machine never pick the same number, and a run
# never borrows another run's display (which would vanish when that run ends).
iw_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local fifo n=""
  fifo=$(mktemp -u /tmp/iw-xvfb.XXXXXX)
  mkfifo "$fifo" || return 1
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  IW_XVFB_PID=$!
  read -r -t 60 n <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$n" ]; then
    kill "$IW_XVFB_PID" 2>/dev/null
    echo "could not start Xvfb" >&2
    return 1
  fi
  export DISPLAY=:$n
  local _
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "Xvfb on $DISPLAY does not answer" >&2
  return 1
}

# Prints `count` distinct TCP ports, each free on every address given
# (127.0.0.1 when none), as the system hands them out. Tests take their
# ports from here and never use fixed ones: on a shared machine another
# server (another checkout's tests, say) may hold any fixed port.
iw_free_ports() {  # count, address...
  python3 - "$@" <<'PY'
import socket, sys
count = int(sys.argv[1])
addrs = sys.argv[2:] or ["127.0.0.1"]
held, ports = [], []
for _ in range(500):
    if len(ports) == count:
        break
    first = socket.socket()
    first.bind((addrs[0], 0))
    port = first.getsockname()[1]
    group, ok = [first], True
    for a in addrs[1:]:
        t = socket.socket()
        try:
            t.bind((a, port))
            group.append(t)
        except OSError:
            t.close()
            ok = False
            break
    held += group  # held until every port is chosen, so none comes twice
    if ok:
        ports.append(port)
for s in held:
    s.close()
if len(ports) < count:
    sys.exit("no free ports")
print(" ".join(map(str, ports)))
PY
}

# Prints a loopback address 127.a.b.c (a, b, c random, a >= 100) on which
# nothing listens on TCP port $1: for a test that needs a fixed port (the
# default port 995), so two runs side by side take different addresses.
iw_free_loopback() {  # port
  python3 - "$1" <<'PY'
import random, socket, sys
port = int(sys.argv[1])
for _ in range(200):
    a = "127.%d.%d.%d" % (random.randint(100, 254), random.randint(1, 254), random.randint(1, 254))
    s = socket.socket()
    try:
        s.bind((a, port))
    except OSError:
        continue
    finally:
        s.close()
    print(a)
    break
else:
    sys.exit("no free loopback address")
PY
}
