# Shared settings of the virtual mesh scripts (sourced after scripts/lib.sh).

# What building and booting the virtual node needs on this machine.
VM_PACKAGES=(qemu-system-x86 seabios python3 cpio binutils libc-bin gzip)

# The native build, configured as the package configures it: its staging
# tree (build/stage) is what the node image installs.
NATIVE_CMAKE_OPTIONS=(-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_INSTALL_PREFIX=/usr -DNODE_INSTALL_ETC=ON)

# vm_stage: stages the built product into build/stage as `cmake --install` does,
# and fails when build was not configured with NATIVE_CMAKE_OPTIONS (no init
# scripts, or programs outside /usr/bin).
vm_stage() {
  rm -rf build/stage && DESTDIR=$PWD/build/stage cmake --install build >/dev/null || return 1
  [ -x build/stage/usr/bin/fleetlink_supervisor ] && [ -d build/stage/etc/init.d ] || {
    echo "build/stage holds no /usr/bin/fleetlink_supervisor or /etc/init.d: configure build with ${NATIVE_CMAKE_OPTIONS[*]}" >&2
    return 1
  }
}

# vm_can_run: prints why QEMU cannot run here and fails, or succeeds quietly.
vm_can_run() {
  if ! command -v qemu-system-x86_64 >/dev/null; then echo "qemu-system-x86_64 is not installed"; return 1; fi
  if ! qemu-system-x86_64 -accel help 2>/dev/null | grep -qx tcg; then echo "this QEMU has no software emulation (tcg)"; return 1; fi
  return 0
}
