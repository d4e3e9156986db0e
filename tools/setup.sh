# Shared by ./run and ./test: installs the Debian packages the build and the tests need (running
# apt-get update only when something is missing), then configures and builds incrementally.

PELNAVI_PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev libjpeg62-turbo-dev libxcb1-dev
  p7zip-full zlib1g-dev libicu-dev libssl-dev ca-certificates
  libgtest-dev libgmock-dev tzdata
  fonts-wqy-microhei
  xvfb xauth xdotool
  python3 curl findutils libglib2.0-bin
  desktop-file-utils appstream dpkg-dev fakeroot
  xmltv-util libxml2-utils
  dbus dbus-daemon python3-icalendar
  clang libclang-rt-14-dev clang-format-14 clang-tidy-14
)

pelnavi_install_packages() {
  local missing=() pkg
  for pkg in "${PELNAVI_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  # Through env: sudo would drop a variable set in front of it.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# pelnavi_build DIR [cmake options...] [--target TARGET...]
pelnavi_build() {
  local dir=$1
  shift
  local options=() targets=()
  while [ $# -gt 0 ]; do
    if [ "$1" = --target ]; then
      targets=("$@")
      break
    fi
    options+=("$1")
    shift
  done
  # ccache, when a developer has it, makes rebuilds in several work trees cheap; it is never required.
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Quiet when it works; the whole output when it does not.
  local log
  log=$(cmake -S "$PELNAVI_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${options[@]}" 2>&1) || {
    printf '%s\n' "$log" >&2
    echo "Configuring $dir failed." >&2
    return 1
  }
  cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}

# The portable build that ./run starts, in build/; ./test builds it too, with the same options.
pelnavi_build_portable() {
  pelnavi_build "$PELNAVI_ROOT/build" -DPELNAVI_TESTS=OFF -DPELNAVI_BENCH=OFF
}
