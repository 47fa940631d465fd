# shellcheck shell=bash
# The router's C library, musl, built from Debian's source package, and the
# static libnl built against it: the pieces of the static router build.
# Sourced by scripts/mips.sh and scripts/musl_stage.sh, with scripts/sources.sh.
#   build_musl mips   CACHE   32-bit big-endian MIPS, soft-float (no FPU on the router)
#   build_musl x86_64 CACHE   this machine's processor, for a static x86-64 build
# A cache holds include/ (musl's headers and the kernel's), lib/ (libc.a and
# the start files; for MIPS also libsoftfp.a), version (the musl source
# folder) and stamp, written last.
#
# The MIPS cache also holds the compiler's soft-float routines (__adddf3 and
# the like) built soft-float from Debian's gcc source package: the cross
# compiler's own libgcc is built for a hard-float system, and its routines
# take their operands in FPU registers and compute with FPU instructions,
# which the router's processor does not have. musl's printf and strtod and
# libnl's unit conversions call them.

# Bump when the musl build below changes, so that old caches are rebuilt.
MUSL_RECIPE=2

# The compiler command for an architecture's musl build.
musl_cc() {
  case $1 in
    mips) echo "mips-linux-gnu-gcc -msoft-float" ;;
    x86_64) echo "gcc" ;;
    *) return 1 ;;
  esac
}

# The folders with the kernel's user-space headers (linux/, asm/,
# asm-generic/) for an architecture: musl ships none of its own.
musl_kernel_headers() {
  case $1 in
    mips) echo "/usr/mips-linux-gnu/include" "/usr/mips-linux-gnu/include" ;;
    x86_64) echo "/usr/include" "/usr/include/x86_64-linux-gnu" ;;
    *) return 1 ;;
  esac
}

# The newest version of a source package in the apt index (the one apt-get
# source hands out), so that a cache made from an older one is rebuilt.
source_version() {  # source_version package
  apt-cache showsrc --only-source "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -V | tail -n 1
}

musl_source_version() { source_version musl; }

# The gcc source package of the cross compiler (gcc-12 for gcc 12.x).
gcc_source_package() { echo "gcc-$(mips-linux-gnu-gcc -dumpversion | cut -d. -f1)"; }

gcc_source_version() { source_version "$(gcc_source_package)"; }

# What a cache's stamp says: the recipe, the architecture and the sources.
musl_stamp() {  # musl_stamp arch
  local line
  line="recipe $MUSL_RECIPE $1 musl $(musl_source_version)"
  [ "$1" = mips ] && line="$line gcc $(gcc_source_version)"
  echo "$line"
}

musl_cached() {  # musl_cached arch cache
  local arch=$1 cache=$2
  [ -f "$cache/lib/libc.a" ] && [ -f "$cache/lib/crt1.o" ] && [ -f "$cache/include/stdio.h" ] &&
    [ -f "$cache/include/linux/netlink.h" ] && { [ "$arch" != mips ] || [ -f "$cache/lib/libsoftfp.a" ]; } &&
    grep -qxF "$(musl_stamp "$arch")" "$cache/stamp" 2>/dev/null
}

# The soft-float routines of libgcc for single and double precision (the
# router's long double is a double): arithmetic, comparisons, conversions
# to and from 32- and 64-bit integers, and between the two precisions,
# compiled with the cross compiler and -msoft-float into lib/libsoftfp.a.
build_softfp() {  # build_softfp cache work
  local cache=$1 work=$2/gcc pkg
  pkg=$(gcc_source_package)
  mkdir -p "$work" || return 1
  echo "== musl (mips): the soft-float routines from $pkg ($(gcc_source_version))"
  (cd "$work" && apt-get source --download-only -q "$pkg" >source.log 2>&1) || { cat "$work/source.log"; return 1; }
  local orig inner
  orig=$(find "$work" -maxdepth 1 -name "${pkg}_*.orig.tar.*" | head -n 1)
  [ -n "$orig" ] || { echo "apt-get source gave no $pkg tarball"; return 1; }
  # Debian's gcc tarball holds gcc's own tarball: take only the soft-float
  # sources, MIPS's description of its floats and longlong.h from it.
  inner=$(tar tf "$orig" | grep -E '/gcc-[0-9.]+(-dfsg)?\.tar\.(xz|gz)$' | head -n 1)
  [ -n "$inner" ] || { echo "no gcc tarball inside $orig"; return 1; }
  mkdir -p "$work/src" && tar xf "$orig" -C "$work" "$inner" || return 1
  tar xf "$work/$inner" -C "$work/src" --wildcards '*/libgcc/soft-fp/*' '*/libgcc/config/mips/sfp-machine.h' \
    '*/include/longlong.h' || return 1
  local top
  top=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  [ -d "$top/libgcc/soft-fp" ] || { echo "no libgcc/soft-fp in $inner"; return 1; }
  local names=(extendsfdf2 truncdfsf2) m f
  for m in sf df; do
    for f in add${m}3 sub${m}3 mul${m}3 div${m}3 neg${m}2 eq${m}2 ge${m}2 le${m}2 unord${m}2 \
             fix${m}si fix${m}di fixuns${m}si fixuns${m}di floatsi${m} floatdi${m} floatunsi${m} floatundi${m}; do
      names+=("$f")
    done
  done
  mkdir -p "$work/obj" "$cache/lib" || return 1
  local objs=() cc
  cc=$(musl_cc mips)
  for f in "${names[@]}"; do
    $cc -Os -fno-pie -ffunction-sections -fdata-sections -fno-unwind-tables -fno-asynchronous-unwind-tables \
      -I "$top/libgcc/config/mips" -I "$top/libgcc/soft-fp" -I "$top/include" \
      -c "$top/libgcc/soft-fp/$f.c" -o "$work/obj/$f.o" || return 1
    objs+=("$work/obj/$f.o")
  done
  rm -f "$cache/lib/libsoftfp.a"
  mips-linux-gnu-ar rcs "$cache/lib/libsoftfp.a" "${objs[@]}"
}

build_musl() {  # build_musl arch cache
  local arch=$1 cache=$2 cc version
  cc=$(musl_cc "$arch") || { echo "musl: no recipe for $arch"; return 1; }
  ensure_source_index || return 1
  version=$(musl_source_version)
  [ -n "$version" ] || { echo "musl: no source package in the apt index"; return 1; }
  if musl_cached "$arch" "$cache"; then
    echo "== musl ($arch): cached in $cache ($(head -n 1 "$cache/version"))"
    return 0
  fi
  local work=$cache-src t0=$SECONDS src
  src=$(unpack_source musl "$cache") || return 1
  echo "== musl ($arch): building $(basename "$src") with $cc"
  (
    cd "$src" || exit 1
    local target=()
    [ "$arch" = mips ] && target=(--target=mips-linux-gnu)
    # Static only: the router build links everything into one file, as a
    # fixed-address executable (the compiler's default is position
    # independent, whose calls and data go through the GOT: larger and slower).
    ./configure "${target[@]}" --prefix="$cache" --disable-shared --disable-wrapper \
      CC="$cc" CFLAGS="-Os -fno-pie" >configure.log 2>&1 || { tail -n 30 configure.log; exit 1; }
    make -j"$(jobs)" >make.log 2>&1 || { tail -n 30 make.log; exit 1; }
    make install >>make.log 2>&1 || { tail -n 30 make.log; exit 1; }
  ) || return 1
  # The kernel's headers beside musl's, as a router's toolchain has them.
  local headers
  read -r -a headers <<<"$(musl_kernel_headers "$arch")"
  cp -r "${headers[0]}/linux" "${headers[0]}/asm-generic" "$cache/include/" &&
    cp -r "${headers[1]}/asm" "$cache/include/" || return 1
  if [ "$arch" = mips ]; then
    build_softfp "$cache" "$work" || { echo "musl (mips): the soft-float routines failed"; return 1; }
  fi
  basename "$src" >"$cache/version"
  musl_stamp "$arch" >"$cache/stamp"
  rm -rf "$work"
  echo "== musl ($arch): built in $((SECONDS - t0))s"
}

# The C compiler flags that compile against a musl cache instead of the
# compiler's own C library.
musl_cflags() {  # musl_cflags arch cache
  local cc
  cc=$(musl_cc "$1") || return 1
  echo "-nostdinc -isystem $2/include -isystem $($cc -print-file-name=include)"
}

# Link flags and libraries of a static C program against a musl cache (for
# configure's link tests): the start files, musl's libc and the compiler's libgcc.
musl_ldflags() { echo "-static -nostdlib -L$1/lib $1/lib/crt1.o $1/lib/crti.o"; }
# On MIPS the soft-float routines come before libgcc's hard-float ones.
musl_libs() {  # musl_libs arch cache
  local softfp=""
  [ "$1" = mips ] && softfp=-lsoftfp
  echo "-Wl,--start-group -lc $softfp -lgcc -Wl,--end-group $2/lib/crtn.o"
}

# A static program against a musl cache, run as its processor runs it (MIPS:
# through scripts/with_mips_binfmt.sh, as a 24Kc): the kernel's headers,
# stdio, and printf of a double (on MIPS, through the soft-float routines).
musl_check() {  # musl_check arch cache
  local arch=$1 cache=$2 dir=$2-check cc out
  cc=$(musl_cc "$arch") || return 1
  rm -rf "$dir" && mkdir -p "$dir" || return 1
  printf '%s\n' '#include <linux/netlink.h>' '#include <stdio.h>' '#include <stdlib.h>' \
    'int main(int argc, char** argv) {' \
    '  double d = strtod(argv[1], 0) * argc;' \
    '  printf("musl %u %.2f %d\n", (unsigned)sizeof(struct nlmsghdr), d, (int)(d * 4));' \
    '  return 0;' '}' >"$dir/check.c"
  # The MIPS link warns that libgcc's integer routines (64-bit division and
  # shifts) are marked hard-float: they hold no FPU instruction (the tier's
  # FPU check looks), so the warnings go to the log.
  # shellcheck disable=SC2046
  { $cc -Os -fno-pie $(musl_cflags "$arch" "$cache") -c "$dir/check.c" -o "$dir/check.o" &&
      $cc $(musl_ldflags "$cache") "$dir/check.o" $(musl_libs "$arch" "$cache") -o "$dir/check"; } >"$dir/build.log" 2>&1 ||
    { cat "$dir/build.log"; echo "musl ($arch): cannot build a program against $cache"; return 1; }
  # Three arguments: 1.25 times 3.
  local run=("$dir/check" 1.25 x)
  [ "$arch" = mips ] && run=(scripts/with_mips_binfmt.sh "${run[@]}")
  out=$("${run[@]}" 2>&1)
  if [ "$out" != "musl 16 3.75 15" ]; then
    echo "musl ($arch): the check program printed '$out', not 'musl 16 3.75 15'"
    return 1
  fi
  echo "== musl ($arch): a static program against it runs: $out"
}

# build_static dir toolchain musl-cache libnl-cache [cmake option...]: the
# static multi-call file, only the product (no tests), built in dir with the
# toolchain file against the caches.
build_static() {
  local dir=$1 toolchain=$2 musl=$3 libnl=$4
  shift 4
  echo "== building the static multi-call file into $dir"
  local log=$dir/build.log
  mkdir -p "$dir"
  # A changed toolchain file, musl or libnl starts the cache anew: the link
  # rule names musl's files, which make does not watch.
  local sum
  sum=$(cat "$toolchain" cmake/musl-static.cmake "$musl/stamp" "$libnl/stamp" | sha256sum)
  if [ "$sum" != "$(cat "$dir/toolchain.sum" 2>/dev/null)" ]; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles" "$dir/multicall"
    echo "$sum" >"$dir/toolchain.sum"
  fi
  local first=()
  [ -f "$dir/CMakeCache.txt" ] || first=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DNODE_MUSL_ROOT="$musl")
  cmake -S . -B "$dir" "${first[@]}" -DCMAKE_BUILD_TYPE=MinSizeRel -DLIBNL_ROOT="$libnl" \
    -DNODE_TESTS=OFF -DNODE_WERROR="${NODE_WERROR:-OFF}" "$@" >"$log" 2>&1 &&
    cmake --build "$dir" --target fleetlink -j"$(jobs)" >>"$log" 2>&1 ||
    { tail -n 60 "$log"; return 1; }
}
