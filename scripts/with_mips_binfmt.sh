#!/usr/bin/env bash
# Runs CMD where 32-bit big-endian MIPS executables start as if this machine
# were the router: in a user, mount and pid namespace of its own, with a
# private binfmt_misc that hands them to qemu-mips-static as a 24Kc (the
# router's core, without an FPU: an FPU instruction is an illegal
# instruction there).
#   scripts/with_mips_binfmt.sh CMD...
# Nothing outside changes: the registration lives and dies with the
# namespace (Linux 6.7 or later mounts binfmt_misc per user namespace). CMD
# runs as root of the namespace, mapped to the caller; the pid namespace
# lets it mount /proc (the whole-program tests do) and ends every process
# left behind, daemons too, when CMD ends. Exits with CMD's status.
set -u
[ $# -gt 0 ] || { echo "usage: $0 CMD..."; exit 2; }

QEMU=${QEMU_MIPS_STATIC:-/usr/bin/qemu-mips-static}

if [ "${NODE_MIPS_BINFMT:-}" != inside ]; then
  [ -x "$QEMU" ] || { echo "$QEMU is missing (apt-get install qemu-user-static)"; exit 2; }
  NODE_MIPS_BINFMT=inside exec unshare --user --map-root-user --mount --pid --fork --mount-proc "$0" "$@"
fi
unset NODE_MIPS_BINFMT

mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || {
  echo "cannot mount a binfmt_misc of this namespace's own (the kernel needs to be 6.7 or later)"
  exit 2
}
# The ELF header of a 32-bit (class 1), big-endian (data 2), version 1 file
# for EM_MIPS (8), an executable or a shared object (e_type 2 or 3, masked
# with fffe), whatever its OS ABI byte. F: the interpreter is opened now,
# so it works inside chroots and other mount namespaces too.
magic='\x7fELF\x01\x02\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x08'
mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff'
echo ":node-mips:M::$magic:$mask:$QEMU:F" >/proc/sys/fs/binfmt_misc/register || {
  echo "cannot register $QEMU with binfmt_misc"
  exit 2
}
export QEMU_CPU=24Kc
# Not exec: this shell stays the namespace's first process, which reaps the
# orphans that CMD leaves (the first process is the one they are given to).
"$@"
