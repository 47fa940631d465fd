#!/usr/bin/env bash
# Builds the virtual node image: vmlinuz and initrd.gz, a busybox system with
# the real kernel, iw, batctl, hostapd, wpa_supplicant, ip, iptables,
# dnsmasq, the stand-ins of scripts/vm/rootfs and the product as its package
# installs it (the staging tree of `cmake --install` of the static build).
#   x86_64 (the default, into build/vm): Debian's kernel, modules and
#     programs, unpacked from Debian's packages (nothing is installed on this
#     machine apart from the tools the build needs); the product from
#     scripts/musl_stage.sh.
#   mips (into build/vm-mips): the router's processor, a big-endian malta
#     kernel with every driver built in (scripts/target/kernel.sh) and
#     programs cross-built static against musl (scripts/target/userland.sh);
#     the product from scripts/musl_stage.sh mips.
# The image is rebuilt only when one of its inputs changed.
#   scripts/vm/build-image.sh [--arch x86_64|mips] [--force]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
. scripts/lib.sh
. scripts/vm/vm-lib.sh

ARCH=x86_64 FORCE=""
while [ $# -gt 0 ]; do
  case $1 in
    --arch) ARCH=${2:-}; shift 2 || shift ;;
    --force) FORCE=1; shift ;;
    *) echo "usage: $0 [--arch x86_64|mips] [--force]" >&2; exit 2 ;;
  esac
done
vm_arch_known "$ARCH" || { echo "no virtual node for the architecture '$ARCH'" >&2; exit 2; }
need_packages $(vm_packages "$ARCH") >&2 || { echo "package installation failed" >&2; exit 1; }

OUT=${VM_OUT:-$(vm_image_dir "$ARCH")}
STAGE=$(vm_stage_dir "$ARCH")
CMAKE_CACHE=$(vm_cmake_cache "$ARCH")
CACHE=${VM_CACHE:-build/vm-cache}      # downloaded packages, kept across rebuilds
mkdir -p "$OUT"

PROGRAMS=(fleetlink_supervisor lonely portsense clientscout ifcounter watchdog vouchercheck)

# cmake_value NAME DEFAULT: a value of the staged build's CMake cache.
cmake_value() {
  local v=""
  [ -f "$CMAKE_CACHE" ] && v=$(sed -n "s/^$1:[A-Z]*=//p" "$CMAKE_CACHE")
  echo "${v:-$2}"
}
DASHBOARD_HOST=$(cmake_value DASHBOARD_HOST dashboard.fleetlink.example)
DASHBOARD_FALLBACK_IP=$(cmake_value DASHBOARD_FALLBACK_IP 192.0.2.10)

# What the node takes from the platform package as a router would.
PLATFORM=openwrt/fleetlink-platform/files
PLATFORM_FILES=(sbin/do_reboot usr/share/udhcpc/default.script)

# --- x86-64: Debian's packages ----------------------------------------------

# Modules to load, in order; their dependencies come along through modules.dep.
# (batman-adv needs crc32c_generic first; WPA keys need ccm, ctr, gcm, cmac and michael_mic.)
MODULES=(crc32c_generic libcrc32c ccm ctr gcm cmac michael_mic cfg80211 mac80211 mac80211_hwsim batman-adv 8021q bridge veth e1000
         x_tables ip_tables iptable_filter iptable_nat nf_nat nf_conntrack xt_MASQUERADE xt_nat xt_tcpudp)

# Programs of the image and the packages that hold them and their libraries.
TOOLS=(bin/busybox bin/dash sbin/iw usr/sbin/batctl usr/sbin/hostapd usr/sbin/hostapd_cli
       sbin/wpa_supplicant sbin/wpa_cli bin/ip usr/sbin/xtables-legacy-multi
       usr/bin/pkill usr/bin/pgrep usr/sbin/dnsmasq)
PACKAGES=(busybox-static dash iw batctl hostapd wpasupplicant iproute2 iptables procps
  libc6 libgcc-s1 libstdc++6 libnl-3-200 libnl-genl-3-200 libnl-route-3-200 libssl3
  libdbus-1-3 libsystemd0 libpcsclite1 libreadline8 libtinfo6 libncursesw6 libproc2-0
  liblzma5 libzstd1 liblz4-1 libcap2 libgcrypt20 libgpg-error0
  libbpf1 libelf1 zlib1g libbsd0 libmd0 libdb5.3 libmnl0 libselinux1 libpcre2-8-0 libtirpc3
  libgssapi-krb5-2 libkrb5-3 libk5crypto3 libcom-err2 libkrb5support0 libkeyutils1
  wireless-regdb
  libxtables12 libip4tc2 libip6tc2 libnetfilter-conntrack3 libnfnetlink0 libnftnl11
  dnsmasq-base libgmp10 libhogweed6 libnettle8 libidn2-0 libunistring2 libnftables1 libjansson4)

versions() {  # one "package=version" line per package: Debian's candidate versions
  local kernel
  # the kernel: Debian's current image, named through its meta package
  kernel=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$kernel" ] || { echo "cannot find Debian's kernel package (apt-get update?)" >&2; return 1; }
  apt-cache show --no-all-versions "$kernel" "${PACKAGES[@]}" 2>/dev/null |
    awk -v want="$kernel ${PACKAGES[*]}" '
      /^Package:/ { p = $2 } /^Version:/ && !(p in v) { v[p] = $2 }
      END { n = split(want, w, " "); for (i = 1; i <= n; i++) print w[i] "=" v[w[i]] }'
}


x86_prepare() {  # sets VERSIONS, KERNEL_PKG, KVER and the inputs that name the image
  mkdir -p "$CACHE/debs"
  # Asking apt is slow, so the answer is kept until apt's package lists change.
  local lists_stamp want_stamp
  lists_stamp=$(ls -l --time-style=+%s /var/lib/apt/lists/ 2>/dev/null | sha256sum | cut -c1-16)
  want_stamp=$(echo "$lists_stamp ${PACKAGES[*]}" | sha256sum | cut -c1-16)
  if [ -f "$CACHE/versions" ] && [ "$(head -1 "$CACHE/versions")" = "$want_stamp" ]; then
    VERSIONS=$(tail -n +2 "$CACHE/versions")
  else
    VERSIONS=$(versions)
    { echo "$want_stamp"; echo "$VERSIONS"; } > "$CACHE/versions"
  fi
  KERNEL_PKG=$(echo "$VERSIONS" | head -1 | cut -d= -f1)
  KVER=${KERNEL_PKG#linux-image-}
  INPUTS=$VERSIONS
}

deb_of() {  # deb_of package: the cached .deb of the wanted version, or nothing
  local v f; v=$(echo "$VERSIONS" | sed -n "s/^$1=//p")
  for f in "$CACHE/debs/${1}_${v#*:}_"*.deb "$CACHE/debs/${1}_${v/:/%3a}_"*.deb; do
    [ -e "$f" ] && { echo "$f"; return 0; }
  done
  return 0
}

# Programs and the closure of their shared libraries.
install_file() {  # install_file pool-relative-path
  mkdir -p "$ROOT/$(dirname "$1")"
  cp -a "$POOL/$1" "$ROOT/$1"
  if [ -L "$POOL/$1" ]; then
    local t; t=$(readlink "$POOL/$1")
    case $t in /*) install_file "${t#/}" ;; *) install_file "$(dirname "$1")/$t" ;; esac
  fi
}
declare -A have_lib=()
add_libs() {  # add_libs elf-file: installs the libraries it needs, recursively
  local lib dir found
  for lib in $(readelf -d "$1" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    [ -n "${have_lib[$lib]:-}" ] && continue
    found=""
    for dir in lib/x86_64-linux-gnu usr/lib/x86_64-linux-gnu lib64; do
      if [ -e "$POOL/$dir/$lib" ]; then found=$dir/$lib; break; fi
    done
    [ -n "$found" ] || { echo "library $lib (needed by ${1#$ROOT/}) is in none of the image's packages" >&2; exit 1; }
    have_lib[$lib]=1
    install_file "$found"
    add_libs "$ROOT/$found"
  done
}
x86_fill_root() {  # the kernel into $WORK/vmlinuz, modules, programs and libraries into $ROOT
  local p v d f t
  # Download what is missing (apt-get download needs no root and installs nothing).
  missing=()
  while IFS== read -r p v; do
    [ -n "$v" ] || { echo "no Debian package $p (apt-get update?)" >&2; exit 1; }
    [ -n "$(deb_of "$p")" ] || missing+=("$p=$v")
  done <<< "$VERSIONS"
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== downloading ${#missing[@]} packages"
    (cd "$CACHE/debs" && apt-get download -q "${missing[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed') >&2 || true
  fi

  # Unpacked packages are kept per set of versions, so that a change of the
  # stand-ins or the programs only repacks the image.
  VHASH=$(echo "$VERSIONS" | sha256sum | cut -c1-12)
  POOL=$CACHE/pool-$VHASH KPOOL=$CACHE/kernel-$KVER
  if [ ! -d "$POOL" ]; then
    rm -rf "$CACHE"/pool-* "$POOL.tmp"; mkdir -p "$POOL.tmp"
    for p in "${PACKAGES[@]}"; do
      d=$(deb_of "$p"); [ -n "$d" ] || { echo "package $p was not downloaded" >&2; exit 1; }
      dpkg-deb -x "$d" "$POOL.tmp"
    done
    mv "$POOL.tmp" "$POOL"
  fi
  # Kernel: only vmlinuz and the module tree are unpacked; depmod makes the index.
  if [ ! -f "$KPOOL/lib/modules/$KVER/modules.dep" ]; then
    rm -rf "$CACHE"/kernel-* ; mkdir -p "$KPOOL"
    dpkg-deb --fsys-tarfile "$(deb_of "$KERNEL_PKG")" | tar -x -C "$KPOOL" "./boot/vmlinuz-$KVER" "./lib/modules/$KVER"
    "$POOL/bin/busybox" depmod -b "$KPOOL" "$KVER"
  fi
  BB_RUN=("$POOL/bin/busybox")
  MODDIR=lib/modules/$KVER
  mkdir -p "$ROOT/$MODDIR"
  : > "$ROOT/$MODDIR/load-order"
  declare -A seen=()
  add_module() {  # add_module name: copies the module after its dependencies, records the load order
    local name=$1 path dep
    path=$(awk -F: -v n="$name" '{ f = $1; sub(/.*\//, "", f); sub(/\.ko$/, "", f); gsub(/-/, "_", f); g = n; gsub(/-/, "_", g); if (f == g) { print $1; exit } }' "$KPOOL/$MODDIR/modules.dep")
    [ -n "$path" ] || { echo "module $name is not in $KERNEL_PKG" >&2; exit 1; }
    [ -n "${seen[$path]:-}" ] && return 0
    seen[$path]=1
    for dep in $(awk -F': *' -v p="$path" '$1 == p { print $2; exit }' "$KPOOL/$MODDIR/modules.dep"); do
      dep=${dep##*/}; add_module "${dep%.ko}"
    done
    mkdir -p "$ROOT/$MODDIR/$(dirname "$path")"
    cp "$KPOOL/$MODDIR/$path" "$ROOT/$MODDIR/$path"
    echo "$path" >> "$ROOT/$MODDIR/load-order"
  }
  for m in "${MODULES[@]}"; do add_module "$m"; done
  cp "$KPOOL/$MODDIR/modules.order" "$KPOOL/$MODDIR/modules.builtin" "$ROOT/$MODDIR/"
  "${BB_RUN[@]}" depmod -b "$ROOT" "$KVER"
  cp "$KPOOL/boot/vmlinuz-$KVER" "$WORK/vmlinuz"

  for t in "${TOOLS[@]}"; do install_file "$t"; add_libs "$ROOT/$t"; done
  install_file lib64/ld-linux-x86-64.so.2
  for f in "$POOL"/lib/firmware/regulatory.db*-debian; do
    install_file "${f#$POOL/}"; ln -s "${f##*/}" "$ROOT/lib/firmware/$(basename "$f" -debian)"
  done
  mkdir -p "$ROOT"/{proc,sys,dev,tmp,run,var,root,etc}
  # iptables' extensions all need the same few libraries.
  XT=usr/lib/x86_64-linux-gnu/xtables
  cp -a "$POOL/$XT" "$ROOT/$XT"
  add_libs "$ROOT/$XT/libxt_MASQUERADE.so"
  printf '/lib/x86_64-linux-gnu\n/usr/lib/x86_64-linux-gnu\n' > "$ROOT/etc/ld.so.conf"
  for t in iptables iptables-save iptables-restore; do ln -sf xtables-legacy-multi "$ROOT/usr/sbin/$t"; done
  # The shell is dash, as on Debian: busybox's own shell would run its applets
  # in place of the real tools and the stand-ins of the same name.
  ln -sf dash "$ROOT/bin/sh"
}

# --- mips: the router's processor, cross-built --------------------------------

mips_prepare() {  # sets KERNEL, USERLAND, KVER and the inputs that name the image
  KERNEL=$(scripts/target/kernel.sh | tail -n 1) && [ -f "$KERNEL" ] ||
    { echo "the MIPS kernel build failed" >&2; exit 1; }
  USERLAND=$(scripts/target/userland.sh | tail -n 1) && [ -x "$USERLAND/bin/busybox" ] ||
    { echo "the MIPS programs' build failed" >&2; exit 1; }
  KVER=$(strings "$KERNEL" | sed -n 's/^Linux version \([^ ]*\) .*/\1/p' | head -n 1)
  # both caches are named by the hash of their own inputs
  INPUTS="$KERNEL $USERLAND"
}

mips_fill_root() {  # the kernel into $WORK/vmlinuz, the static programs into $ROOT
  cp "$KERNEL" "$WORK/vmlinuz"
  cp -a "$USERLAND/." "$ROOT/"
  mkdir -p "$ROOT"/{proc,sys,dev,tmp,run,var,root,etc}
  # Every driver is built in: no module to load.
  mkdir -p "$ROOT/lib/modules/$KVER" && : > "$ROOT/lib/modules/$KVER/load-order"
  # busybox's ash is the shell, as on OpenWrt; it lists its applets under qemu.
  BB_RUN=(qemu-mips-static "$ROOT/bin/busybox")
  ln -sf busybox "$ROOT/bin/sh"
}

# --- the image ------------------------------------------------------------------

if [ "$ARCH" = mips ]; then mips_prepare; else x86_prepare; fi

# The image depends on its architecture's inputs, this script, the stand-ins and the programs.
inputs_hash() {
  {
    echo "$ARCH" "$INPUTS" "$DASHBOARD_HOST" "$DASHBOARD_FALLBACK_IP"
    cat "${BASH_SOURCE[0]}" scripts/vm/vm-lib.sh
    (cd scripts/vm/rootfs && find . -type f -print0 | sort -z | xargs -0 sha256sum)
    (cd "$PLATFORM" && sha256sum "${PLATFORM_FILES[@]}")
    [ -d "$STAGE" ] && (cd "$STAGE" && find . \( -type f -o -type l \) -print0 | sort -z | xargs -0 sha256sum)
  } | sha256sum | cut -c1-16
}
HASH=$(inputs_hash)
if [ -z "$FORCE" ] && [ -f "$OUT/image.hash" ] && [ "$(cat "$OUT/image.hash")" = "$HASH" ] &&
   [ -f "$OUT/vmlinuz" ] && [ -f "$OUT/initrd.gz" ]; then
  echo "vm image up to date ($OUT, $HASH)"
  exit 0
fi
t0=$SECONDS
echo "== building the $ARCH vm image ($HASH)"
WORK=$OUT/work ROOT=$OUT/work/root
rm -rf "$WORK"; mkdir -p "$ROOT"
if [ "$ARCH" = mips ]; then mips_fill_root; else x86_fill_root; fi

# The product as its package installs it: the programs (the multi-call
# file and its links) and the package's files, which each node's /etc gets
# at its creation (/lib/vm/package).
mkdir -p "$ROOT/usr/bin" "$ROOT/lib/vm/package"
found_programs=()
if [ -d "$STAGE/usr/bin" ]; then
  cp -a "$STAGE/usr/bin/." "$ROOT/usr/bin/"
  for f in "$STAGE"/usr/bin/*; do
    [ -L "$f" ] || add_libs "$ROOT/usr/bin/${f##*/}"
  done
  for p in "${PROGRAMS[@]}"; do [ -e "$ROOT/usr/bin/$p" ] && found_programs+=("$p"); done
  [ -d "$STAGE/usr/share" ] && cp -a "$STAGE/usr/share/." "$ROOT/usr/share/"
  [ -d "$STAGE/etc" ] && cp -a "$STAGE/etc" "$ROOT/lib/vm/package/"
fi

# The stand-ins and the node's start-up files, then the build facts the VM reads.
cp -a scripts/vm/rootfs/. "$ROOT/"
for f in "${PLATFORM_FILES[@]}"; do install -D -m 755 "$PLATFORM/$f" "$ROOT/$f"; done
mkdir -p "$ROOT/etc/vm"
cat > "$ROOT/etc/vm/build" <<INFO
KVER=$KVER
DASHBOARD_HOST=$DASHBOARD_HOST
DASHBOARD_FALLBACK_IP=$DASHBOARD_FALLBACK_IP
PROGRAMS="${found_programs[*]}"
INFO
[ "$ARCH" = x86_64 ] && ldconfig -r "$ROOT"
# busybox supplies every other shell tool; a real tool or a stand-in of the same name wins.
mkdir -p "$ROOT"/{bin,sbin,usr/bin,usr/sbin}
for a in $("${BB_RUN[@]}" --list-full); do
  n=${a##*/}
  [ -e "$ROOT/bin/$n" ] || [ -e "$ROOT/sbin/$n" ] || [ -e "$ROOT/usr/bin/$n" ] || [ -e "$ROOT/usr/sbin/$n" ] ||
    ln -s /bin/busybox "$ROOT/$a"
done

(cd "$ROOT" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | gzip -1 > "$WORK/initrd.gz"
mv "$WORK/vmlinuz" "$OUT/vmlinuz"
mv "$WORK/initrd.gz" "$OUT/initrd.gz"
echo "$HASH" > "$OUT/image.hash"
rm -rf "$WORK"
echo "== vm image built in $((SECONDS - t0))s: kernel $KVER, programs: ${found_programs[*]:-none}"
