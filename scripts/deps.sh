#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages that building, running and testing Tabladex needs,
# skipping those already installed. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtk-3-dev libsdl2-dev libsndfile1-dev libsamplerate0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev libxtst-dev libxext-dev xvfb xauth
  # The desktop benchmarks (idle_cpu, startup) run the program beside a private sound
  # server, drive it with xdotool and watch its window with xev.
  pulseaudio pulseaudio-utils xdotool x11-utils
)
if [ "${TABLADEX_FULL_CHECKS:-0}" = 1 ]; then
  # The test suite also fuzzes with clang's libFuzzer and cross-builds for Windows.
  packages+=(clang g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
  # ... and runs the Windows tests and a smoke run of the Windows program under Wine:
  # GoogleTest's sources for the cross compiler, a sound server with its tools, and xdotool
  # to drive the program's window on the virtual display.
  packages+=(googletest wine64 pulseaudio pulseaudio-utils xdotool)
  # ... and installs the desktop program into a staging folder, runs it there, validates its
  # desktop entry and AppStream data, builds its Debian package and checks it with lintian
  # (scripts/install_check.sh); xmllint and update-mime-database check the rhythm and
  # playlist file types.
  packages+=(desktop-file-utils appstream dpkg-dev file xdotool x11-utils lintian
    libxml2-utils shared-mime-info)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

install() {
  [ "$#" -eq 0 ] && return 0
  echo "Installing: $*"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
}
install "${missing[@]}"

# libFuzzer's runtime comes with clang's runtime package, named after clang's version.
if [ "${TABLADEX_FULL_CHECKS:-0}" = 1 ]; then
  version=$(clang -dumpversion | cut -d. -f1)
  if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long){return 0;}' |
       clang++ -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
    install "libclang-rt-${version}-dev"
  fi
fi
