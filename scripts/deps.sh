# The one list of packages the project needs on a Debian machine, and the
# idempotent install. Sourced by scripts/test, scripts/demo and scripts/bench.
VIDOZIR_PACKAGES=(
  # toolchains and build
  g++ cmake ninja-build pkg-config clang
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 mingw-w64-tools
  wine wine64
  # libraries of the library
  libboost-dev libicu-dev libsqlite3-dev libssl-dev libsystemd-dev xdg-utils
  # tests, fuzzing and benchmarks
  googletest libbenchmark-dev libclang-rt-14-dev
  libpugixml-dev libtinyxml2-dev libxml2-dev
  python3 osslsigncode openssl linux-kbuild-6.1
  shared-mime-info dbus-daemon
)

vidozir_sudo=""
[ "$(id -u)" -eq 0 ] || vidozir_sudo="sudo"

# The 32-bit Wine that runs the i686 (product) test suite: a package of the
# i386 architecture, installed apart from the list above so that a machine
# where it cannot be had still runs everything else. Returns nonzero when it
# is not installed afterwards.
vidozir_install_wine32() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && return 0
  echo "-- installing: wine32:i386 (adding the i386 architecture)"
  export DEBIAN_FRONTEND=noninteractive
  vidozir_add_i386 || return 1
  # The package lists were fetched already when vidozir_install_deps ran
  # with the i386 architecture added; a second update would only cost time.
  if [ "${vidozir_lists_i386:-no}" != yes ]; then
    $vidozir_sudo apt-get -o DPkg::Lock::Timeout=900 update -qq || return 1
  fi
  $vidozir_sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends wine32:i386 >/dev/null
}

vidozir_add_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 || $vidozir_sudo dpkg --add-architecture i386
}

# vidozir_install_deps [i386]: installs what is missing of the list; with
# i386 (scripts/test, which installs wine32:i386 next) the architecture is
# added first, so that one update of the package lists serves both.
vidozir_install_deps() {
  local missing=()
  local p
  for p in "${VIDOZIR_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "-- installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  [ "${1:-}" = i386 ] && vidozir_add_i386 && vidozir_lists_i386=yes
  $vidozir_sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
  $vidozir_sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
