# Shared settings of the virtual mesh scripts (sourced after scripts/lib.sh).

# What building and booting the virtual node needs on this machine.
VM_PACKAGES=(qemu-system-x86 seabios python3 cpio binutils libc-bin gzip)

# vm_can_run: prints why QEMU cannot run here and fails, or succeeds quietly.
vm_can_run() {
  if ! command -v qemu-system-x86_64 >/dev/null; then echo "qemu-system-x86_64 is not installed"; return 1; fi
  if ! qemu-system-x86_64 -accel help 2>/dev/null | grep -qx tcg; then echo "this QEMU has no software emulation (tcg)"; return 1; fi
  return 0
}
