#!/usr/bin/env bash
# The test command: installs what the build and the tests need, then runs
# every test tier that this machine allows and ends with a summary line.
#   scripts/test.sh            all tiers
#   scripts/test.sh unit mips  only the named tiers
#   scripts/test.sh soak       the long virtual mesh scenarios, which "all tiers" leaves out
#   scripts/test.sh target     the virtual mesh on the router's processor, also left out
set -u
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/vm/vm-lib.sh

need_packages "${BUILD_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }

# In the test command every warning is an error (scripts/mips.sh follows it).
export NODE_WERROR=ON

results=()
failed=0

# run_tier name command...: runs one tier, prints its time, records the result.
# A tier exits 0 (pass), 77 (skipped: cannot run here) or anything else (fail).
run_tier() {
  local name=$1; shift
  echo
  echo "=== tier: $name"
  local t0=$SECONDS
  "$@"
  local rc=$?
  local took=$((SECONDS - t0))
  local verdict=PASS
  if [ $rc -eq 77 ]; then verdict=SKIP; elif [ $rc -ne 0 ]; then verdict=FAIL; failed=1; fi
  echo "=== tier: $name: $verdict in ${took}s"
  results+=("$name=$verdict(${took}s)")
}

build_native() {
  cmake -S . -B build "${NATIVE_CMAKE_OPTIONS[@]}" -DNODE_WERROR=ON >/dev/null && cmake --build build -j"$(jobs)"
}

# The corners of the build matrix that no other tier builds: what a packager
# builds (Release with tests, MinSizeRel without) and clang without the tests
# (the fuzz tier builds with clang too). The MinSizeRel build installs as the
# package does (the openwrt tier compares that with the package).
tier_build() {
  need_packages "${FUZZ_PACKAGES[@]}" || return 1
  local gcc=(-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++)
  local clang=(-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)
  local rc=0 corner
  mkdir -p build-matrix
  for corner in "gcc Release ON" "gcc MinSizeRel OFF" "clang Release OFF"; do
    set -- $corner
    local dir=build-matrix/$1-$2-tests-$3 compiler extra=()
    if [ "$1" = gcc ]; then compiler=("${gcc[@]}"); else compiler=("${clang[@]}"); fi
    [ "$2" = MinSizeRel ] && extra=("${PACKAGE_CMAKE_OPTIONS[@]}")
    local t0=$SECONDS
    if cmake -S . -B "$dir" "${compiler[@]}" -DCMAKE_BUILD_TYPE="$2" -DNODE_TESTS="$3" -DNODE_WERROR=ON "${extra[@]}" \
         >"$dir.log" 2>&1 && cmake --build "$dir" -j"$(jobs)" >>"$dir.log" 2>&1; then
      echo "build $1 $2 tests $3: ok in $((SECONDS - t0))s"
    else
      echo "build $1 $2 tests $3: FAILED"; tail -n 40 "$dir.log"; rc=1
    fi
    if [ "$2" = MinSizeRel ] && [ $rc -eq 0 ]; then
      rm -rf build-matrix/stage
      DESTDIR=$PWD/build-matrix/stage cmake --install "$dir" >/dev/null || { echo "install of $dir: FAILED"; rc=1; }
    fi
  done
  return $rc
}

ctest_label() {  # ctest_label build-dir label
  ctest --test-dir "$1" -L "^$2\$" --output-on-failure -j"$(jobs)"
}

tier_unit() { build_native && ctest_label build unit; }

tier_probe() {
  if [ "$(id -u)" -ne 0 ]; then echo "probe tier needs root (network namespaces): skipped"; return 77; fi
  build_native && ctest_label build probe
}

# The whole-program tests run twice: against the native programs, then
# against the links of the static multi-call file that the virtual mesh's
# nodes run (x86-64, musl, the product's own C++ run-time support).
tier_program() {
  build_native && ctest_label build program || return 1
  echo "== the whole-program tests against the x86-64 static multi-call file"
  scripts/musl_stage.sh &&
    NODE_PROGRAMS_DIR=$PWD/$MUSL_X86_64_BUILD/static/multicall ctest_label build program
}

tier_sanitizers() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNODE_SANITIZE=ON -DNODE_WERROR=ON >/dev/null &&
    cmake --build build-asan -j"$(jobs)" &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-asan -L '^(unit|probe|program)$' --output-on-failure -j"$(jobs)"
}

tier_mips() {
  [ -x scripts/mips.sh ] || { echo "no MIPS tier yet"; return 77; }
  scripts/mips.sh
}

tier_fuzz() { scripts/fuzz.sh; }

# The OpenWrt package against OpenWrt's own uci, libnl-tiny, rc.common, boot
# and hotplug-call (OPENWRT_SOURCES); the stand-ins of uci against the real one.
tier_openwrt() {
  build_native >/dev/null || return 1
  scripts/openwrt_tier.sh
}

# The virtual mesh: the programs on simulated nodes in a QEMU machine (scripts/vm, tests/vm);
# the scenarios of the named tier (tests/vm/run.py --tier).
vm_scenarios() {  # vm_scenarios tier
  if ! need_packages "${VM_PACKAGES[@]}"; then
    echo "$1 tier: QEMU and its helpers (${VM_PACKAGES[*]}) cannot be installed here: skipped"; return 77
  fi
  /usr/bin/python3 tests/vm/test_dashboard.py || return 1
  local why
  if ! why=$(vm_can_run); then echo "$1 tier: $why: skipped"; return 77; fi
  vm_stage && scripts/vm/build-image.sh && /usr/bin/python3 tests/vm/run.py --jobs "$2" --tier "$1"
}

# A vm scenario mostly waits on its nodes' timers (two machines use about one
# core), so the four of the vm tier run at once; the soak tier's long ones
# run two at a time.
tier_vm() { vm_scenarios vm 4; }
tier_soak() { vm_scenarios soak "$(jobs)"; }

# The router's own processor end to end: the nodes run on a big-endian MIPS
# kernel (qemu's malta board, the FPU-less 24Kc) with a cross-built userland
# and the package's MIPS file. The wired gateway runs on both machines, for
# its figures side by side; the two-node mesh with lonely's search on MIPS.
tier_target() {
  if ! need_packages "${VM_PACKAGES[@]}" "${VM_MIPS_PACKAGES[@]}"; then
    echo "target tier: QEMU and its helpers cannot be installed here: skipped"; return 77
  fi
  local why arch
  for arch in x86_64 mips; do
    if ! why=$(vm_can_run $arch); then echo "target tier: $why: skipped"; return 77; fi
  done
  vm_stage && vm_stage mips && scripts/vm/build-image.sh && scripts/vm/build-image.sh --arch mips || return 1
  /usr/bin/python3 tests/vm/run.py --figures --jobs 2 --arch x86_64,mips gateway &&
    /usr/bin/python3 tests/vm/run.py --figures --jobs 1 --arch mips mesh_lonely
}

all_tiers=(build unit probe program sanitizers mips fuzz openwrt vm)
wanted=("$@")
[ ${#wanted[@]} -eq 0 ] && wanted=("${all_tiers[@]}")

for t in "${wanted[@]}"; do
  run_tier "$t" "tier_$t"
done

echo
echo "SUMMARY: ${results[*]} => $([ $failed -eq 0 ] && echo PASSED || echo FAILED)"
exit $failed
