# Shared helpers of the project's scripts.

# need_packages pkg...: installs with apt-get whatever of them is missing.
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q >/dev/null || return 1
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# The packages of the native build and its tests.
BUILD_PACKAGES=(cmake make g++ pkg-config libnl-3-dev libnl-genl-3-dev googletest libgtest-dev
                iproute2 util-linux procps)

# The fuzz tier's compiler and libFuzzer (with the sanitizers' run-times).
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

jobs() { nproc 2>/dev/null || echo 2; }

# unpack_source PACKAGE CACHE: for a cache being rebuilt: removes CACHE and
# unpacks `apt-get source PACKAGE` in the new empty folder CACHE-src; prints
# the unpacked source folder.
unpack_source() {
  local pkg=$1 work=$2-src src
  rm -rf "$work" "$2" && mkdir -p "$work" || return 1
  echo "== apt-get source $pkg" >&2
  (cd "$work" && apt-get source -q "$pkg" >source.log 2>&1) || { cat "$work/source.log" >&2; return 1; }
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$pkg-*" | head -n 1)
  [ -n "$src" ] || { echo "apt-get source gave no $pkg folder" >&2; return 1; }
  echo "$src"
}
