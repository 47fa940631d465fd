# Shared settings of the virtual mesh scripts (sourced after scripts/lib.sh).

# What building and booting the virtual node needs on this machine, per
# architecture: x86_64 (the default) or mips, the router's own processor.
VM_PACKAGES=(qemu-system-x86 seabios python3 cpio binutils libc-bin gzip)
VM_MIPS_PACKAGES=(qemu-system-mips qemu-user-static python3 cpio binutils gzip)

vm_arch_known() { case $1 in x86_64 | mips) return 0 ;; *) return 1 ;; esac; }
vm_packages() { if [ "$1" = mips ]; then echo "${VM_MIPS_PACKAGES[*]}"; else echo "${VM_PACKAGES[*]}"; fi; }
vm_image_dir() { if [ "$1" = mips ]; then echo build/vm-mips; else echo build/vm; fi; }
vm_qemu() { if [ "$1" = mips ]; then echo qemu-system-mips; else echo qemu-system-x86_64; fi; }

# The build options of the package (install prefix, the package's files),
# and of the native build configured as the package configures it.
PACKAGE_CMAKE_OPTIONS=(-DCMAKE_INSTALL_PREFIX=/usr -DNODE_INSTALL_ETC=ON)
NATIVE_CMAKE_OPTIONS=(-DCMAKE_BUILD_TYPE=MinSizeRel "${PACKAGE_CMAKE_OPTIONS[@]}")

# What the node image installs: the staging tree of the static multi-call
# build of its architecture (scripts/musl_stage.sh), and that build's CMake
# cache.
MUSL_X86_64_BUILD=${MUSL_X86_64_BUILD:-build-musl-x86_64}
VM_STAGE=${VM_STAGE:-$MUSL_X86_64_BUILD/stage}
VM_CMAKE_CACHE=${VM_CMAKE_CACHE:-$MUSL_X86_64_BUILD/static/CMakeCache.txt}
MIPS_PACKAGE_BUILD=${MIPS_PACKAGE_BUILD:-build-mips/package}
VM_MIPS_STAGE=${VM_MIPS_STAGE:-$MIPS_PACKAGE_BUILD/stage}

vm_stage_dir() { if [ "$1" = mips ]; then echo "$VM_MIPS_STAGE"; else echo "$VM_STAGE"; fi; }
vm_cmake_cache() {
  if [ "$1" = mips ]; then echo "$MIPS_PACKAGE_BUILD/static/CMakeCache.txt"; else echo "$VM_CMAKE_CACHE"; fi
}

# vm_stage [arch]: builds and stages the product the nodes run; fails when
# the tree holds no /usr/bin/fleetlink_supervisor or no /etc/init.d.
vm_stage() {
  local arch=${1:-x86_64} stage
  stage=$(vm_stage_dir "$arch")
  scripts/musl_stage.sh "$arch" || return 1
  [ -x "$stage/usr/bin/fleetlink_supervisor" ] && [ -d "$stage/etc/init.d" ] || {
    echo "$stage holds no /usr/bin/fleetlink_supervisor or /etc/init.d" >&2
    return 1
  }
}

# vm_can_run [arch]: prints why QEMU cannot run here and fails, or succeeds quietly.
vm_can_run() {
  local qemu; qemu=$(vm_qemu "${1:-x86_64}")
  if ! command -v "$qemu" >/dev/null; then echo "$qemu is not installed"; return 1; fi
  if ! "$qemu" -accel help 2>/dev/null | grep -qx tcg; then echo "this QEMU has no software emulation (tcg)"; return 1; fi
  return 0
}
