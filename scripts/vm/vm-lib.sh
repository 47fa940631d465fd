# Shared settings of the virtual mesh scripts (sourced after scripts/lib.sh).

# What building and booting the virtual node needs on this machine.
VM_PACKAGES=(qemu-system-x86 seabios python3 cpio binutils libc-bin gzip)

# The build options of the package (install prefix, the package's files),
# and of the native build configured as the package configures it.
PACKAGE_CMAKE_OPTIONS=(-DCMAKE_INSTALL_PREFIX=/usr -DNODE_INSTALL_ETC=ON)
NATIVE_CMAKE_OPTIONS=(-DCMAKE_BUILD_TYPE=MinSizeRel "${PACKAGE_CMAKE_OPTIONS[@]}")

# What the node image installs: the staging tree of the x86-64 static
# multi-call build (scripts/musl_stage.sh), and the CMake cache of that build.
MUSL_X86_64_BUILD=${MUSL_X86_64_BUILD:-build-musl-x86_64}
VM_STAGE=${VM_STAGE:-$MUSL_X86_64_BUILD/stage}
VM_CMAKE_CACHE=${VM_CMAKE_CACHE:-$MUSL_X86_64_BUILD/static/CMakeCache.txt}

# vm_stage: builds and stages the product the nodes run; fails when the tree
# holds no /usr/bin/fleetlink_supervisor or no /etc/init.d.
vm_stage() {
  scripts/musl_stage.sh || return 1
  [ -x "$VM_STAGE/usr/bin/fleetlink_supervisor" ] && [ -d "$VM_STAGE/etc/init.d" ] || {
    echo "$VM_STAGE holds no /usr/bin/fleetlink_supervisor or /etc/init.d" >&2
    return 1
  }
}

# vm_can_run: prints why QEMU cannot run here and fails, or succeeds quietly.
vm_can_run() {
  if ! command -v qemu-system-x86_64 >/dev/null; then echo "qemu-system-x86_64 is not installed"; return 1; fi
  if ! qemu-system-x86_64 -accel help 2>/dev/null | grep -qx tcg; then echo "this QEMU has no software emulation (tcg)"; return 1; fi
  return 0
}
