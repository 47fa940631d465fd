#!/usr/bin/env bash
# Builds the virtual node's MIPS kernel: a 32-bit big-endian malta kernel
# (qemu-system-mips -M malta -cpu 24Kc) from Debian's linux-source-6.1,
# cross-compiled with Debian's mips-linux-gnu compiler, everything built in:
# malta_defconfig without its modules, merged with scripts/target/kernel.config.
# The kernel is kept outside the clone, in
#   ${TARGET_CACHE:-$HOME/.cache/fleetlink-target}/kernel-<key>/{vmlinux,config,stamp}
# where the key covers the kernel source's version, the compiler's, the
# fragment and this script; the sources and the build tree are deleted once
# the kernel is built (a failed build keeps them there for a look).
# Progress goes to stderr; stdout gets one line, the vmlinux's absolute path.
#   scripts/target/kernel.sh
set -euo pipefail
SELF=$(realpath "${BASH_SOURCE[0]}")
cd "$(dirname "$SELF")/../.."
. scripts/lib.sh

SRC_PKG=linux-source-6.1
TARBALL=/usr/src/linux-source-6.1.tar.xz
FRAGMENT=$PWD/scripts/target/kernel.config
MAKE_ARGS=(ARCH=mips CROSS_COMPILE=mips-linux-gnu-)

need_packages "$SRC_PKG" gcc-mips-linux-gnu binutils-mips-linux-gnu make gcc libc6-dev flex bison bc xz-utils >&2 ||
  { echo "package installation failed" >&2; exit 1; }

# What the kernel is made of, one line each; the stamp holds them too.
inputs() {
  echo "source $SRC_PKG $(dpkg-query -W -f='${Version}' "$SRC_PKG")"
  echo "gcc $(mips-linux-gnu-gcc --version | head -n 1)"
  echo "ld $(mips-linux-gnu-ld --version | head -n 1)"
  echo "fragment $(sha256sum <"$FRAGMENT" | cut -d' ' -f1)"
  echo "script $(sha256sum <"$SELF" | cut -d' ' -f1)"
}
INPUTS=$(inputs)
KEY=$(echo "$INPUTS" | sha256sum | cut -c1-16)
CACHE_ROOT=${TARGET_CACHE:-$HOME/.cache/fleetlink-target}
mkdir -p "$CACHE_ROOT"
CACHE_ROOT=$(cd "$CACHE_ROOT" && pwd)
DIR=$CACHE_ROOT/kernel-$KEY

cached() { [ -f "$DIR/vmlinux" ] && [ -f "$DIR/config" ] && [ "$(cat "$DIR/stamp" 2>/dev/null)" = "$INPUTS" ]; }
if cached; then
  echo "== kernel: cached in $DIR" >&2
  echo "$DIR/vmlinux"
  exit 0
fi

# A second run at the same time waits for the first one's kernel.
mkdir -p "$DIR"
exec 9>"$DIR/lock"
flock 9
if cached; then
  echo "== kernel: built meanwhile in $DIR" >&2
  echo "$DIR/vmlinux"
  exit 0
fi
rm -f "$DIR/stamp" "$DIR/vmlinux" "$DIR/config"
t0=$SECONDS
WORK=$DIR/work
rm -rf "$WORK" && mkdir -p "$WORK"
echo "== kernel: unpacking $TARBALL into $WORK" >&2
tar xf "$TARBALL" -C "$WORK"
SRC=$WORK/${SRC_PKG}
[ -f "$SRC/Makefile" ] || { echo "no kernel source in $TARBALL" >&2; exit 1; }
LOG=$WORK/build.log

kmake() { make -C "$SRC" "${MAKE_ARGS[@]}" "$@" >>"$LOG" 2>&1 || { tail -n 40 "$LOG" >&2; echo "kernel: make $* failed (log: $LOG)" >&2; exit 1; }; }

echo "== kernel: configuring (malta_defconfig + ${FRAGMENT#"$PWD"/})" >&2
kmake malta_defconfig
# malta_defconfig builds some 300 modules; the node loads none, and with
# modules switched off Kconfig would build every one of them in instead.
sed -i -E 's/^CONFIG_([A-Za-z0-9_]+)=m$/# CONFIG_\1 is not set/' "$SRC/.config"
(cd "$SRC" && scripts/kconfig/merge_config.sh -m .config "$FRAGMENT") >>"$LOG" 2>&1 ||
  { tail -n 20 "$LOG" >&2; echo "kernel: merging $FRAGMENT failed" >&2; exit 1; }
kmake olddefconfig

# olddefconfig silently drops a setting whose dependencies are not met and
# turns on what another option selects: every line of the fragment must
# stand in the final .config as written.
bad=()
while IFS= read -r line; do
  case $line in
    CONFIG_*=*) grep -qxF "$line" "$SRC/.config" || bad+=("$line (now: $(grep -E "^(# )?${line%%=*}[= ]" "$SRC/.config" || echo absent))") ;;
    "# CONFIG_"*" is not set")
      sym=${line#\# }; sym=${sym%% *}
      ! grep -q "^$sym=" "$SRC/.config" || bad+=("$line (now: $(grep "^$sym=" "$SRC/.config"))") ;;
  esac
done <"$FRAGMENT"
if [ ${#bad[@]} -gt 0 ]; then
  echo "kernel: these settings of $FRAGMENT did not survive the merge (a missing dependency or a select):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi

echo "== kernel: building vmlinux with $(mips-linux-gnu-gcc -dumpfullversion), -j$(jobs)" >&2
kmake -j"$(jobs)" vmlinux

cp "$SRC/vmlinux" "$DIR/vmlinux.tmp" && mv "$DIR/vmlinux.tmp" "$DIR/vmlinux"
cp "$SRC/.config" "$DIR/config"
cp "$LOG" "$DIR/build.log"
echo "$INPUTS" >"$DIR/stamp"
rm -rf "$WORK"
echo "== kernel: built in $((SECONDS - t0))s ($(du -k "$DIR/vmlinux" | cut -f1) KB vmlinux) in $DIR" >&2
echo "$DIR/vmlinux"
