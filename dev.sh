#!/usr/bin/env bash
# Tethrocam developer entry point.
#   ./dev.sh run [--simulate[=MODEL]]   install what is missing, build, start the program
#   ./dev.sh test                       install what is missing, build, run every test
# Both steps are idempotent: packages already present are not touched, builds are incremental.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev
  libjpeg62-turbo-dev libexiv2-dev libgphoto2-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  exiv2 libjpeg-turbo-progs
  xvfb xauth clang libclang-rt-14-dev
  qt6-svg-dev desktop-file-utils appstream
  autoconf automake libtool autopoint gettext libltdl-dev patch
  python3
)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # A mirror that hiccups once should not fail the whole run: try up to three times.
  local attempt
  for attempt in 1 2 3; do
    if $sudo apt-get update -qq &&
       $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"; then
      return 0
    fi
    echo "apt-get failed (attempt $attempt); retrying in 10 s" >&2
    sleep 10
  done
  return 1
}

# configure_build DIR TARGET [cmake options...]
configure_build() {
  local dir=$1 target=$2; shift 2
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "$@"
  fi
  cmake --build "$dir" -j "$(nproc)" --target "$target"
}

cmd=${1:-}
shift || true
case "$cmd" in
  run)
    install_missing
    configure_build build all -DCMAKE_BUILD_TYPE=RelWithDebInfo
    args=("$@")
    [ ${#args[@]} -eq 0 ] && args=(--simulate)
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
      echo "No display found: running under Xvfb."
      exec xvfb-run -a build/src/tethrocam "${args[@]}"
    fi
    exec build/src/tethrocam "${args[@]}"
    ;;
  test)
    install_missing
    configure_build build all -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTETHROCAM_WERROR=ON
    (cd build && QT_QPA_PLATFORM=offscreen ctest -j "$(nproc)" --output-on-failure --timeout 600)
    # The threaded tests again under ThreadSanitizer (only the targets labelled tsan are built).
    configure_build build-tsan tsan_tests -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTETHROCAM_TSAN=ON -DTETHROCAM_WERROR=ON
    (cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
       ctest -L tsan -j "$(nproc)" --output-on-failure --timeout 900 --no-tests=ignore)
    ;;
  *)
    sed -n '2,5p' "$0"
    exit 2
    ;;
esac
