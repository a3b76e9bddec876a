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
# use), with the Traditional Chinese locale.
iw_wine() {
  "$IW_ROOT/scripts/wine-prefix" >/dev/null
  LANG=$IW_WINE_LANG LC_ALL=$IW_WINE_LANG wine "$@"
}

# Starts Xvfb on a free display unless one is already set and answering.
iw_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 90 120); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
      Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      IW_XVFB_PID=$!
      export DISPLAY=:$n
      for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    fi
  done
  echo "could not start Xvfb" >&2
  return 1
}
