#!/usr/bin/env bash
# The MIPS tier: cross-builds the programs and the tests for the router's
# processor (32-bit big-endian MIPS), runs the unit tests (and, as root, the
# probe tests) under qemu user-mode emulation and prints each program's size
# (also kept in $MIPS_BUILD/sizes.txt). Then the router's one static file:
# musl and libnl built for it (scripts/musl.sh), the multi-call file linked
# statically, soft-float (cmake/mips-musl.cmake), its size against the
# router's room, no FPU instruction in it (scripts/fpu_check.sh), and the
# whole-program tests run natively against its seven links as a 24Kc runs
# them (scripts/with_mips_binfmt.sh).
#   scripts/mips.sh          (build tree: $MIPS_BUILD, default build-mips)
#
# The binaries link dynamically against the cross C library and run as
# `qemu-mips -L /usr/mips-linux-gnu`: that is how the device links its C
# library, and a static glibc cannot resolve names (gethostbyname loads its
# NSS modules at run time). libnl is linked statically from a cache in the
# build tree, made once from Debian's source package.
set -u
cd "$(dirname "$0")/.."
. scripts/lib.sh

MIPS_BUILD=${MIPS_BUILD:-build-mips}
TRIPLET=mips-linux-gnu
LIBNL_CACHE=$PWD/$MIPS_BUILD/libnl-cache

MIPS_PACKAGES=(g++-$TRIPLET binutils-$TRIPLET qemu-user qemu-user-static cmake make googletest util-linux)

# The router's one static file: musl (scripts/musl.sh), libnl built against
# it, and the multi-call file built with cmake/mips-musl.cmake.
. scripts/musl.sh
. scripts/sources.sh
MUSL_CACHE=$PWD/$MIPS_BUILD/musl-cache
LIBNL_MUSL_CACHE=$PWD/$MIPS_BUILD/libnl-musl-cache
STATIC_BUILD=$MIPS_BUILD/static
# The most the router's flash has room for: the stripped static file.
STATIC_LIMIT=262144

# --- build and tests -------------------------------------------------------

build_mips() {
  echo "== cross-building into $MIPS_BUILD"
  local log=$MIPS_BUILD/build.log
  mkdir -p "$MIPS_BUILD"
  # The toolchain's flags enter the cache only on the first configure: start
  # the cache anew when the toolchain file has changed since.
  local sum
  sum=$(sha256sum <cmake/$TRIPLET.cmake)
  if [ "$sum" != "$(cat "$MIPS_BUILD/toolchain.sum" 2>/dev/null)" ]; then
    rm -rf "$MIPS_BUILD/CMakeCache.txt" "$MIPS_BUILD/CMakeFiles"
    echo "$sum" >"$MIPS_BUILD/toolchain.sum"
  fi
  local toolchain=()
  [ -f "$MIPS_BUILD/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/$TRIPLET.cmake)
  cmake -S . -B "$MIPS_BUILD" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=MinSizeRel -DLIBNL_ROOT="$LIBNL_CACHE" \
    -DNODE_LINK_MAPS=ON -DNODE_WERROR="${NODE_WERROR:-OFF}" >"$log" 2>&1 &&
    cmake --build "$MIPS_BUILD" --target emulated_tier -j"$(jobs)" >>"$log" 2>&1 ||
    { tail -n 60 "$log"; return 1; }
}

run_tests() {
  echo "== unit tests under qemu-mips"
  ctest --test-dir "$MIPS_BUILD" -L '^unit$' --output-on-failure -j"$(jobs)" || return 1
  # qemu hands the probes' ioctls and route messages to the real kernel in
  # the target's byte order, so the probes run too where they can.
  if [ "$(id -u)" -eq 0 ]; then
    echo "== probe tests under qemu-mips"
    ctest --test-dir "$MIPS_BUILD" -L '^probe$' --output-on-failure -j"$(jobs)" || return 1
  else
    echo "probe tests: skipped under emulation (they need root for a network namespace)"
  fi
  echo "program tests: not built for MIPS (they start MIPS binaries from a MIPS process,"
  echo "which needs binfmt_misc, and collect daemons as their subreaper, which qemu user-mode"
  echo "emulation refuses); they run natively against the static file below"
}

# --- no FPU ----------------------------------------------------------------

# scripts/fpu_check.sh on code that does compute with floats: the check must
# find it each way (FPU instructions, calls to the soft-float routines in an
# object and, through a link map, from our objects), and must pass musl's
# static file with the soft-float routines in it.
fpu_self_check() {
  local dir=$PWD/$MIPS_BUILD/fpu-check cc
  cc=$(musl_cc mips)
  rm -rf "$dir" && mkdir -p "$dir" || return 1
  printf '%s\n' 'double scale(double a, int b) { return a * b; }' \
    'int main(int argc, char** argv) { (void)argv; return (int)scale(1.5, argc); }' >"$dir/float.c"
  # shellcheck disable=SC2046
  $TRIPLET-gcc -Os -c "$dir/float.c" -o "$dir/hard.o" &&
    $cc -Os -fno-pie $(musl_cflags mips "$MUSL_CACHE") -c "$dir/float.c" -o "$dir/soft.o" &&
    $cc $(musl_ldflags "$MUSL_CACHE") "$dir/soft.o" $(musl_libs mips "$MUSL_CACHE") \
      -Wl,-Map="$dir/soft.map" -Wl,--cref -o "$dir/soft" || { echo "cannot build the FPU check's samples"; return 1; }
  local bad
  for bad in "$dir/hard.o" "$dir/soft.o" "--map $dir/soft.map --own $dir/ $dir/soft"; do
    # shellcheck disable=SC2086
    if scripts/fpu_check.sh $bad >/dev/null; then
      echo "scripts/fpu_check.sh passed code that computes with floats: $bad"
      return 1
    fi
  done
  scripts/fpu_check.sh "$dir/soft" || { echo "musl's soft-float routines use the FPU"; return 1; }
}

fpu_checks() {
  echo "== no FPU: the static file, our code in its link, our libraries"
  fpu_self_check || return 1
  # The dynamic build's libraries are compiled for a hard-float system: any
  # float arithmetic of ours shows there as FPU instructions, kept or not.
  local libs=()
  mapfile -t libs <"$MIPS_BUILD/node_libraries.txt"
  [ ${#libs[@]} -gt 0 ] || { echo "no libraries in $MIPS_BUILD/node_libraries.txt"; return 1; }
  scripts/fpu_check.sh --map "$STATIC_BUILD/maps/fleetlink.map" --own "$PWD/$STATIC_BUILD/" \
    "$STATIC_BUILD/multicall/fleetlink" "${libs[@]}" || { echo "FPU check failed"; return 1; }
  echo "no FPU instruction in the static file; no float arithmetic in our ${#libs[@]} libraries or our part of the link"
}

# --- the static file on a 24Kc ------------------------------------------------

# expect_run rc text cmd...: runs cmd as the router would (24Kc, binfmt_misc)
# and fails unless it exits with rc and prints exactly text (both streams).
expect_run() {
  local want_rc=$1 want=$2 out rc
  shift 2
  out=$(scripts/with_mips_binfmt.sh "$@" 2>&1)
  rc=$?
  if [ $rc -ne "$want_rc" ] || [ "$out" != "$want" ]; then
    echo "$*: exit $rc (want $want_rc), printed:"
    printf '%s\n' "$out" | sed 's/^/  /'
    [ "$out" = "$want" ] || printf 'want:\n%s\n' "$want" | sed '2,$s/^/  /'
    return 1
  fi
}

# The native whole-program tests, built here against this machine's libraries.
build_program_tests() {
  echo "== building the whole-program tests (native) into $MIPS_BUILD/native"
  local log=$MIPS_BUILD/native/build.log
  mkdir -p "$MIPS_BUILD/native"
  cmake -S . -B "$MIPS_BUILD/native" -DCMAKE_BUILD_TYPE=MinSizeRel -DNODE_WERROR="${NODE_WERROR:-OFF}" >"$log" 2>&1 &&
    cmake --build "$MIPS_BUILD/native" --target program_tests -j"$(jobs)" >>"$log" 2>&1 ||
    { tail -n 60 "$log"; return 1; }
}

static_runs() {
  local dir=$PWD/$STATIC_BUILD/multicall
  local names="fleetlink_supervisor lonely portsense clientscout ifcounter watchdog vouchercheck"
  echo "== the static file as the router's 24Kc runs it (qemu-mips-static through binfmt_misc)"
  ln -sf fleetlink "$dir/no_such_program" || return 1
  expect_run 1 "fleetlink: not one of the programs this file holds: $names" "$dir/fleetlink" &&
    expect_run 1 "no_such_program: not one of the programs this file holds: $names" "$dir/no_such_program" &&
    expect_run 1 "Invalid Argumtnes" "$dir/vouchercheck" || return 1
  rm -f "$dir/no_such_program"
  # The seven programs through their links, by the whole-program tests.
  local log=$MIPS_BUILD/static-program-tests.log
  scripts/with_mips_binfmt.sh env NODE_PROGRAMS_DIR="$dir" \
    ctest --test-dir "$MIPS_BUILD/native" -L '^program$' --output-on-failure -j"$(jobs)" >"$log" 2>&1
  local rc=$?
  grep -E 'tests passed|tests failed|Total Test time' "$log"
  if grep -qE 'uncaught target signal 4|Illegal instruction' "$log"; then
    echo "an illegal instruction on the 24Kc:"
    grep -E 'uncaught target signal 4|Illegal instruction' "$log" | head -n 5
    return 1
  fi
  [ $rc -eq 0 ] || { tail -n 80 "$log"; return 1; }
}

# --- sizes -----------------------------------------------------------------

# The bytes of a program's stripped file that come from our objects, from
# libnl and from musl (in the static file), summed from the linker map over
# the sections loaded from the file (so all are parts of the stripped size):
# "own libnl musl". Our objects are those of the build tree and, in a build
# with link-time optimization, the compiler's ltrans objects made from them.
# Mergeable strings count before the linker merges them, which can make the
# figures a few bytes high.
map_split() {  # map_split binary map
  local sections
  sections=$($TRIPLET-readelf -SW "$1" |
    awk '/^ *\[ *[0-9]+\]/ { sub(/^ *\[ *[0-9]+\] */, ""); if ($2 != "NOBITS" && $7 ~ /A/) print $1 }')
  awk -v sections="$sections" -v build="$PWD/$MIPS_BUILD/" '
    BEGIN { n = split(sections, s, "\n"); for (i = 1; i <= n; i++) keep[s[i]] = 1 }
    function hex(x,   i, v, c) {
      v = 0; x = tolower(substr(x, 3))
      for (i = 1; i <= length(x); i++) { c = index("0123456789abcdef", substr(x, i, 1)) - 1; v = v * 16 + c }
      return v
    }
    function add(size, file) {
      if (!(out in keep)) return
      if (file ~ /\/libnl(-musl)?-cache\//) nl += size
      else if (file ~ /\/musl-cache\// && file !~ /libsoftfp\.a/) musl += size
      else if (file !~ /^\// || index(file, build) == 1 || file ~ /\.ltrans[0-9]*\.ltrans\.o$/) own += size
    }
    /^Linker script and memory map/ { inmap = 1; next }
    !inmap { next }
    /^[^ ]/ { out = $1; pending = ""; next }
    # An input section: " .name addr size file", or its name alone on a line
    # (a long one) with "addr size file" on the next.
    /^ [^ *]/ {
      if (NF >= 4 && $2 ~ /^0x/ && $3 ~ /^0x/) { add(hex($3), $4); pending = "" }
      else if (NF == 1) pending = $1
      next
    }
    /^  +0x/ && pending != "" && NF >= 3 && $2 ~ /^0x/ { add(hex($2), $3); pending = ""; next }
    { pending = "" }
    END { printf "%d %d %d\n", own, nl, musl }' "$2"
}

size_table() {
  local list=$MIPS_BUILD/node_programs.txt
  echo "MIPS sizes in bytes: stripped file; own code and data in it; libnl's; the rest"
  echo "(C and C++ start-up, dynamic linking tables, ELF headers)"
  if [ ! -s "$list" ]; then
    echo "no programs yet"
    return 0
  fi
  printf '%-22s %10s %10s %10s %10s\n' program stripped own libnl rest
  mkdir -p "$MIPS_BUILD/stripped"
  local name bin map
  while read -r name bin map; do
    local stripped=$MIPS_BUILD/stripped/$name total split own nl
    $TRIPLET-strip -o "$stripped" "$bin" || return 1
    total=$(stat -c %s "$stripped") && split=$(map_split "$bin" "$map") || return 1
    read -r own nl _ <<<"$split"
    printf '%-22s %10d %10d %10d %10d\n' "$name" "$total" "$own" "$nl" $((total - own - nl))
  done <"$list"
}

# The static multi-call file's line; fails when the file outgrows the router.
static_size() {
  local bin=$STATIC_BUILD/multicall/fleetlink map=$STATIC_BUILD/maps/fleetlink.map
  local stripped=$MIPS_BUILD/stripped/fleetlink-static total split own nl musl
  echo
  echo "The static multi-call file (musl, soft-float, MIPS16e), the seven programs in one:"
  echo "stripped; own code and data; libnl's; musl's; the rest (libgcc, ELF headers)"
  printf '%-22s %10s %10s %10s %10s %10s\n' file stripped own libnl musl rest
  mkdir -p "$MIPS_BUILD/stripped"
  $TRIPLET-strip -o "$stripped" "$bin" || return 1
  total=$(stat -c %s "$stripped") && split=$(map_split "$bin" "$map") || return 1
  read -r own nl musl <<<"$split"
  printf '%-22s %10d %10d %10d %10d %10d\n' fleetlink "$total" "$own" "$nl" "$musl" $((total - own - nl - musl))
  if [ "$total" -gt "$STATIC_LIMIT" ]; then
    echo "the static multi-call file is $total bytes stripped: over the router's $STATIC_LIMIT"
    return 1
  fi
  echo "within the router's $STATIC_LIMIT bytes ($((STATIC_LIMIT - total)) to spare)"
}

main() {
  # The native build's packages too: the whole-program tests are built natively.
  need_packages "${MIPS_PACKAGES[@]}" "${STATIC_PACKAGES[@]}" "${BUILD_PACKAGES[@]}" || { echo "package installation failed"; return 1; }
  local t0=$SECONDS
  build_libnl "$LIBNL_CACHE" mips || { echo "libnl cross-build failed"; return 1; }
  local t1=$SECONDS
  build_mips || { echo "MIPS build failed"; return 1; }
  local t2=$SECONDS
  run_tests || return 1
  local t3=$SECONDS
  build_musl mips "$MUSL_CACHE" && musl_check mips "$MUSL_CACHE" || { echo "musl build failed"; return 1; }
  build_libnl "$LIBNL_MUSL_CACHE" mips "$MUSL_CACHE" || { echo "libnl build against musl failed"; return 1; }
  local t4=$SECONDS
  build_static "$STATIC_BUILD" cmake/mips-musl.cmake "$MUSL_CACHE" "$LIBNL_MUSL_CACHE" -DNODE_LINK_MAPS=ON ||
    { echo "static MIPS build failed"; return 1; }
  local t5=$SECONDS
  { size_table && static_size; } >"$MIPS_BUILD/sizes.txt" || { cat "$MIPS_BUILD/sizes.txt"; return 1; }
  cat "$MIPS_BUILD/sizes.txt"
  fpu_checks || return 1
  build_program_tests || { echo "the whole-program tests' build failed"; return 1; }
  local t6=$SECONDS
  static_runs || { echo "the static file failed on the 24Kc"; return 1; }
  local t7=$SECONDS
  echo "== times: libnl $((t1 - t0))s, build $((t2 - t1))s, tests $((t3 - t2))s, musl and its libnl $((t4 - t3))s,"
  echo "   static build $((t5 - t4))s, program tests' build $((t6 - t5))s, 24Kc runs $((t7 - t6))s"
}

main "$@"
