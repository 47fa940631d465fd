#!/usr/bin/env bash
# The virtual node's userland for a big-endian MIPS machine (qemu-system-mips
# -M malta -cpu 24Kc): the programs that scripts/vm/build-image.sh takes from
# Debian's x86-64 packages, cross-built from Debian's source packages as
# static, soft-float MIPS32 files against the router's own musl
# (scripts/musl.sh) and the static libnl built against it (scripts/sources.sh).
# Debian has no big-endian MIPS binaries, and the 24Kc has no FPU: no file
# here may hold an FPU instruction (the float arithmetic goes through the musl
# cache's soft-float routines).
#   scripts/target/userland.sh        prints the tree's absolute path last
#
# The tree, at the paths of build-image.sh's TOOLS:
#   bin/busybox (and bin/sh, its ash), sbin/iw, usr/sbin/batctl,
#   usr/sbin/hostapd, usr/sbin/hostapd_cli, sbin/wpa_supplicant, sbin/wpa_cli,
#   bin/ip, usr/sbin/xtables-legacy-multi (and iptables, iptables-save,
#   iptables-restore), usr/sbin/dnsmasq
# It is built once, outside the clone, into
#   ${TARGET_CACHE:-~/.cache/fleetlink-target}/userland-KEY/root
# beside musl and libnl (musl-mips, libnl-musl-mips). KEY hashes the source
# packages' versions, the cross compiler and binutils, this script (and so
# the busybox configuration it makes, which is hashed on its own as well)
# and the musl and libnl recipes. Beside root/: busybox.config, busybox.links
# (where each applet's link goes: the image makes them, as build-image.sh
# does, where no real tool or stand-in has the name), times, sizes, checks,
# logs/. The stamp is written last; without it the tree is an interrupted or
# failed build, and the next run goes on from the packages already built and
# checked.
#
# Every file is checked as it is installed: `file` (ELF 32-bit MSB, MIPS,
# statically linked), its FP ABI (soft float), scripts/fpu_check.sh (no FPU
# instruction), and a start under qemu-mips-static as a 24Kc (its version or
# help; busybox's ash also runs a command line).
#
# A package that cannot be fetched or built fails the run. For a machine
# whose apt mirror does not serve a source package (this one has no batctl):
# TARGET_SOURCES=folder with Debian's files of it (checked against the .dsc
# apt does give), or TARGET_USERLAND_WITHOUT="batctl ..." to finish the tree
# without the named packages; every run then says what is missing, and a
# later run without that setting adds them to the same tree.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
. scripts/lib.sh
. scripts/musl.sh
. scripts/sources.sh

START=$EPOCHREALTIME
PROJECT=$PWD
SELF=$PROJECT/scripts/target/userland.sh
TRIPLET=mips-linux-gnu
TARGET_CACHE=${TARGET_CACHE:-$HOME/.cache/fleetlink-target}
MUSL_CACHE=$TARGET_CACHE/musl-mips
LIBNL_CACHE=$TARGET_CACHE/libnl-musl-mips

# Debian's source packages, in the order they are built.
SOURCES=(busybox iw batctl wpa dnsmasq iptables iproute2)
read -r -a WITHOUT <<<"${TARGET_USERLAND_WITHOUT:-}"

# The files each source package puts into the tree (links are made beside).
declare -A FILES=(
  [busybox]="bin/busybox"
  [iw]="sbin/iw"
  [batctl]="usr/sbin/batctl"
  [wpa]="usr/sbin/hostapd usr/sbin/hostapd_cli sbin/wpa_supplicant sbin/wpa_cli"
  [dnsmasq]="usr/sbin/dnsmasq"
  [iptables]="usr/sbin/xtables-legacy-multi"
  [iproute2]="bin/ip"
)

USERLAND_PACKAGES=("gcc-$TRIPLET" "binutils-$TRIPLET" qemu-user-static file make gcc pkg-config
                   xz-utils bzip2 "${STATIC_PACKAGES[@]}")

# --- busybox's configuration ---------------------------------------------------

# These applets (their config symbols) and no others: allnoconfig names
# every setting, each off; of its lines only the applets' stay, so that
# oldconfig gives everything else, these applets' own options among them,
# busybox's default. They are what the virtual machine runs:
# scripts/vm/rootfs (init, the agent, node.sh, station.sh, the node's
# init.d, uci, the stand-ins), the packages' scripts (openwrt/fleetlink*/files: logger, pidof, uci-defaults,
# udhcpc's script), the programs' commands (ifconfig, udhcpc, wget, tar,
# md5sum, awk, pkill, mkpasswd through the passwd stand-in, syslogd, crond)
# and the scenarios' commands (tests/vm: nc, nslookup, pgrep, logread, ps),
# plus a few for looking around in a node (df, du, dmesg, hexdump, netstat,
# ping). Not here: ip (iproute2's, below), passwd, reboot, sysupgrade and
# uci (stand-ins of the image), ifup/ifdown (OpenWrt's are netifd's).
BUSYBOX_APPLETS=(
  ASH
  BASENAME CAT CHMOD CHOWN CP CUT DATE DD DF DIRNAME DU ECHO ENV EXPR FALSE HEAD ID INSTALL LN LS
  MKDIR MKNOD MKTEMP MV NOHUP OD PRINTF PWD READLINK REALPATH RM RMDIR SEQ SLEEP SORT STAT STTY
  SYNC TAIL TEE TEST TEST1 TEST2 TIMEOUT TOUCH TR TRUE UNAME UNIQ USLEEP WC YES
  BASE64 MD5SUM SHA256SUM AWK SED CMP FIND XARGS GREP EGREP FGREP WHICH HEXDUMP
  FREE KILL KILLALL PIDOF PGREP PKILL PS UPTIME BB_SYSCTL DMESG
  MOUNT UMOUNT MOUNTPOINT NSENTER UNSHARE CHROOT HOSTNAME INIT
  INSMOD RMMOD LSMOD MODPROBE DEPMOD
  SYSLOGD LOGREAD LOGGER CROND CRONTAB CRYPTPW MKPASSWD
  IFCONFIG ROUTE NC NSLOOKUP PING NETSTAT WGET UDHCPC UDHCPD
  TAR GZIP GUNZIP ZCAT
)
# Settings besides the applets and their defaults.
BUSYBOX_ON=(
  STATIC PLATFORM_LINUX LONG_OPTS SHOW_USAGE FEATURE_VERBOSE_USAGE BUSYBOX FEATURE_INSTALLER
  # musl's off_t is 64-bit on every processor
  LFS
  # awk's hex numbers ("0x" $5 in the vlan script) and the like, as Debian's
  DESKTOP
  # ash is /bin/sh; no bash
  SH_IS_ASH BASH_IS_NONE FEATURE_SH_MATH FEATURE_EDITING FEATURE_TAB_COMPLETION
  # sleep 0.05 and timeout's fractions
  FLOAT_DURATION FEATURE_FANCY_SLEEP
  # syslogd -C16 (logread) and -R host
  FEATURE_IPC_SYSLOG FEATURE_REMOTE_LOG
  # busybox init reads the node's /etc/inittab
  FEATURE_USE_INITTAB
  # mkpasswd -m sha512
  USE_BB_CRYPT USE_BB_CRYPT_SHA
  # tar xzvf, wget --no-cache -O / --directory-prefix
  FEATURE_SEAMLESS_GZ FEATURE_WGET_LONG_OPTIONS
  # nc -w as the x86 image's (Debian's) nc
  NC_SERVER NC_EXTRA
)
# Values: log lines as long as the x86 image's busybox takes them (Debian's).
BUSYBOX_VALUES=(FEATURE_SYSLOGD_READ_BUFFER_SIZE=1024)
# Off whatever their defaults: ash must find every command through PATH, so
# that the real tools and the image's stand-ins of the same name run, never
# an applet of its own (FEATURE_SH_STANDALONE and FEATURE_SH_NOFORK make it
# run applets in place, FEATURE_PREFER_APPLETS makes every busybox exec do
# so); the rest is of no use in the image.
BUSYBOX_OFF=(
  FEATURE_SH_STANDALONE FEATURE_SH_NOFORK FEATURE_PREFER_APPLETS FEATURE_SH_EMBEDDED_SCRIPTS
  SH_IS_NONE SH_IS_HUSH BASH_IS_ASH BASH_IS_HUSH HUSH
  FEATURE_SUID SELINUX PAM MODPROBE_SMALL NC_110_COMPAT WERROR
)
# What the image's scripts need from busybox by name, checked in the built
# file's applet list.
BUSYBOX_NEEDED=(sh ash awk base64 cat crond cut date grep head hostname ifconfig init insmod kill logger
  logread ls md5sum mkpasswd mknod mount nc nsenter nslookup pgrep pidof pkill ps sed sleep sort stty
  syslogd tail tar timeout tr udhcpc udhcpd unshare wget)

busybox_config_text() {
  printf 'applets %s\non %s\noff %s\nvalues %s\n' "${BUSYBOX_APPLETS[*]}" "${BUSYBOX_ON[*]}" "${BUSYBOX_OFF[*]}" \
    "${BUSYBOX_VALUES[*]}"
}

# --- the cache's key -------------------------------------------------------------

# The source packages' versions as the apt index has them; apt is slow to
# ask, so the answer is kept in the cache until apt's lists change.
VERSIONS_MEMO=$TARGET_CACHE/userland-versions
lists_stamp() { ls -l --time-style=+%s /var/lib/apt/lists/ 2>/dev/null | sha256sum | cut -c1-16; }

memo_versions() {  # prints the kept versions when apt's lists are as they were
  [ -f "$VERSIONS_MEMO" ] && [ "$(head -n 1 "$VERSIONS_MEMO")" = "$(lists_stamp)" ] || return 1
  tail -n +2 "$VERSIONS_MEMO"
}

apt_versions() {  # asks apt, keeps the answer
  local p v out="" gcc_pkg
  gcc_pkg=$(gcc_source_package)
  for p in "${SOURCES[@]}" musl libnl3 "$gcc_pkg"; do
    v=$(source_version "$p")
    [ -n "$v" ] || { echo "no source package $p in the apt index" >&2; return 1; }
    out+="$p=$v"$'\n'
  done
  mkdir -p "$TARGET_CACHE"
  { lists_stamp; printf '%s' "$out"; } >"$VERSIONS_MEMO.tmp" && mv "$VERSIONS_MEMO.tmp" "$VERSIONS_MEMO"
  printf '%s' "$out"
}

key_inputs() {  # key_inputs versions
  echo "$1"
  echo "recipes musl $MUSL_RECIPE libnl $LIBNL_RECIPE"
  "$TRIPLET-gcc" --version | head -n 1
  "$TRIPLET-ld" --version | head -n 1
  echo "script $(sha256sum <"$SELF" | cut -c1-64)"
  echo "busybox-config $(busybox_config_text | sha256sum | cut -c1-64)"
}

# --- building ----------------------------------------------------------------------

# The project's musl and libnl functions are written for `set -u` alone
# (they test each step themselves); they run as written, in a subshell.
as_project() { (set +e +o pipefail; "$@"); }

# fetch package: Debian's source of a package, unpacked (patches applied) in
# the build folder; prints its folder. Fails with 3 when the source cannot
# be had.
#
# An apt mirror may hand out a package's .dsc (checked against the signed
# index) but not the files it names (the one here has no batctl). Those
# files, Debian's own, can be put in the folder TARGET_SOURCES: dpkg-source
# unpacks them only if each matches the .dsc's checksums.
fetch() {
  local pkg=$1 work=$BUILD/$1-src dsc name
  as_project unpack_source "$pkg" "$BUILD/$pkg" && return 0
  dsc=$(find "$work" -maxdepth 1 -name "${pkg}_*.dsc" | head -n 1)
  [ -n "$dsc" ] && [ -n "${TARGET_SOURCES:-}" ] || return 3
  for name in $(awk '/^Files:/ { files = 1; next } /^[^ ]/ || /^$/ { files = 0 } files { print $3 }' "$dsc"); do
    [ -f "$TARGET_SOURCES/$name" ] || { echo "$name is not in TARGET_SOURCES ($TARGET_SOURCES)" >&2; return 3; }
    cp "$TARGET_SOURCES/$name" "$work/" || return 3
  done
  echo "== $pkg: Debian's files from TARGET_SOURCES, checked against $(basename "$dsc")" >&2
  (cd "$work" && dpkg-source -x "$(basename "$dsc")" >>source.log 2>&1) ||
    { tail -n 5 "$work/source.log" >&2; return 3; }
  find "$work" -mindepth 1 -maxdepth 1 -type d -name "$pkg-*" | head -n 1 | grep . || return 3
}

# The C compiler of every package: the cross compiler, soft-float, not
# position independent, against the musl cache's headers; a link is static,
# with musl's start files and libraries (and the soft-float routines before
# libgcc's hard-float ones). The packages' build systems and configure
# scripts take it as their CC. TARGET_EXTRA_LIBS (libnl's two libraries as a
# group, for the programs that link them) goes before musl's libraries.
write_compiler() {
  local cflags ldflags libs
  cflags=$(musl_cflags mips "$MUSL_CACHE") && ldflags=$(musl_ldflags "$MUSL_CACHE") &&
    libs=$(musl_libs mips "$MUSL_CACHE") || return 1
  mkdir -p "$BUILD/bin"
  cat >"$CC_TARGET" <<EOF
#!/bin/sh
# Written by scripts/target/userland.sh: $(musl_cc mips) against $MUSL_CACHE.
compile="$(musl_cc mips) -fno-pie -Os -ffunction-sections -fdata-sections $cflags"
# A program's link is a run with input files and without -c, -S, -E or -M
# (a bare --version or -print-file-name links nothing), nor -r: the partial
# links of busybox's folders get no start files.
link=yes inputs=no skip=no
for a in "\$@"; do
  if [ \$skip = yes ]; then skip=no; continue; fi
  case \$a in
    -c|-S|-E|-M|-MM|-r|-shared) link=no ;;
    -o|-x|-I|-L|-l|-D|-U|-include|-imacros|-isystem|-idirafter|-iquote|-MF|-MT|-MQ|-Xlinker) skip=yes ;;
    -*) ;;
    *) inputs=yes ;;
  esac
done
if [ \$link = yes ] && [ \$inputs = yes ]; then
  exec \$compile -Wl,--gc-sections $ldflags "\$@" \${TARGET_EXTRA_LIBS:-} $libs
fi
exec \$compile "\$@"
EOF
  chmod +x "$CC_TARGET"
  # pkg-config sees libnl's cache and nothing of this machine's libraries.
  mkdir -p "$BUILD/pkgconfig"
  local version
  version=$(sed -n 's/^libnl3-//p' "$LIBNL_CACHE/version")
  printf '%s\n' "Name: libnl-3.0" "Description: libnl (static, musl, MIPS)" "Version: ${version:-3.7.0}" \
    "Cflags: -I$LIBNL_CACHE/include/libnl3" "Libs: -L$LIBNL_CACHE/lib -lnl-3" >"$BUILD/pkgconfig/libnl-3.0.pc"
  printf '%s\n' "Name: libnl-genl-3.0" "Description: libnl-genl (static, musl, MIPS)" "Version: ${version:-3.7.0}" \
    "Requires: libnl-3.0" "Cflags: -I$LIBNL_CACHE/include/libnl3" "Libs: -L$LIBNL_CACHE/lib -lnl-genl-3" \
    >"$BUILD/pkgconfig/libnl-genl-3.0.pc"
}

# Both libnl libraries as one group: the programs' makefiles name them in
# the order a shared link takes (libnl-3 before libnl-genl-3), which a
# static link cannot resolve.
LIBNL_LIBS() { echo "-L$LIBNL_CACHE/lib -Wl,--start-group -lnl-genl-3 -lnl-3 -Wl,--end-group"; }

# install_file built-file tree-path: the file in the tree without its
# debugging sections. Its symbol table stays: libnl's code is MIPS16
# (scripts/sources.sh), and only the symbols tell objdump, and so the FPU
# check, which functions to read as MIPS16; read as MIPS32, their bytes look
# like FPU instructions.
install_file() {
  mkdir -p "$(dirname "$ROOT/$2")"
  "$TRIPLET-strip" --strip-debug -o "$ROOT/$2" "$1" && chmod 755 "$ROOT/$2"
}

# bb_set file symbol y|n|value: one setting of busybox's .config.
bb_set() {
  local sym=CONFIG_$2
  sed -i -e "/^$sym=/d" -e "/^# $sym is not set\$/d" "$1"
  if [ "$3" = n ]; then echo "# $sym is not set" >>"$1"; else echo "$sym=$3" >>"$1"; fi
}

build_busybox() {
  local src s
  src=$(fetch busybox) || return 3
  cd "$src" || return 1
  make HOSTCC=gcc allnoconfig >>"$LOG" 2>&1 || return 1
  local applets
  applets=$(grep -rhoE '^//applet:IF_[A-Z0-9_]+\(' --include='*.c' . | sed 's|^//applet:IF_||; s|($||' |
    sort -u | paste -sd'|')
  [ -n "$applets" ] || { echo "no applet in busybox's sources"; return 1; }
  grep -E "^(# )?CONFIG_($applets)( is not set|=)" .config >.config.applets && mv .config.applets .config ||
    return 1
  for s in "${BUSYBOX_APPLETS[@]}" "${BUSYBOX_ON[@]}"; do bb_set .config "$s" y; done
  for s in "${BUSYBOX_OFF[@]}"; do bb_set .config "$s" n; done
  for s in "${BUSYBOX_VALUES[@]}"; do bb_set .config "${s%%=*}" "${s#*=}"; done
  # The rest, new to the file now, takes busybox's defaults.
  make HOSTCC=gcc oldconfig < <(yes '') >>"$LOG" 2>&1 || return 1
  local wrong=()
  for s in "${BUSYBOX_APPLETS[@]}" "${BUSYBOX_ON[@]}"; do grep -qx "CONFIG_$s=y" .config || wrong+=("$s is off"); done
  for s in "${BUSYBOX_OFF[@]}"; do grep -qx "CONFIG_$s=y" .config && wrong+=("$s is on"); done
  for s in "${BUSYBOX_VALUES[@]}"; do grep -qx "CONFIG_$s" .config || wrong+=("${s%%=*} is not ${s#*=}"); done
  [ ${#wrong[@]} -eq 0 ] || { echo "busybox's configuration is not as asked: ${wrong[*]}"; return 1; }
  make -j"$(jobs)" HOSTCC=gcc CROSS_COMPILE="$TRIPLET-" CC="$CC_TARGET" busybox busybox.links >>"$LOG" 2>&1 ||
    return 1
  install_file busybox_unstripped bin/busybox || return 1
  ln -sf busybox "$ROOT/bin/sh"
  cp .config "$UL/busybox.config" && cp busybox.links "$UL/busybox.links"
}

check_busybox() {
  local version
  version=$(sed -n 's/^busybox-//p' <<<"$(basename "$SRC_DIR")")
  check_file bin/busybox "BusyBox v$version" --help || return 1
  local list missing=() a
  list=$(run_target "$ROOT/bin/busybox" --list) || { echo "busybox --list failed"; return 1; }
  for a in "${BUSYBOX_NEEDED[@]}"; do grep -qxF "$a" <<<"$list" || missing+=("$a"); done
  [ ${#missing[@]} -eq 0 ] || { echo "busybox lacks the applets ${missing[*]}"; return 1; }
  # /bin/sh is ash; it computes, and it runs no applet of its own: with an
  # empty PATH, pkill is not found.
  expect_target 0 "42" "$ROOT/bin/sh" -c 'echo $((6 * 7))' || return 1
  expect_target 127 "sh: line 0: pkill: not found" "$ROOT/bin/sh" -c 'PATH=/nonexistent; pkill x' sh || return 1
  echo "bin/busybox: $(wc -l <<<"$list") applets; bin/sh (ash) runs commands only through PATH" >>"$CHECKS"
}

build_iw() {
  local src
  src=$(fetch iw) || return 3
  cd "$src" || return 1
  TARGET_EXTRA_LIBS=$(LIBNL_LIBS) make -j"$(jobs)" CC="$CC_TARGET" PKG_CONFIG=pkg-config iw >>"$LOG" 2>&1 ||
    return 1
  install_file iw sbin/iw
}

check_iw() { check_file sbin/iw "iw version $(upstream_version)" --version; }

build_batctl() {
  local src
  src=$(fetch batctl) || return 3
  cd "$src" || return 1
  # Its version as the source names it (no git here to ask).
  TARGET_EXTRA_LIBS=$(LIBNL_LIBS) make -j"$(jobs)" CC="$CC_TARGET" PKG_CONFIG=pkg-config \
    REVISION="${src##*/batctl-}" batctl >>"$LOG" 2>&1 || return 1
  install_file batctl usr/sbin/batctl
}

check_batctl() { check_file usr/sbin/batctl "batctl $(upstream_version)" -v; }

# hostapd and wpa_supplicant: the nl80211 driver on the musl libnl, the
# internal TLS and crypto (no OpenSSL), the control interface for the _cli
# tools. The virtual mesh's access points use WPA/WPA2-PSK with TKIP and
# CCMP (wpa=3, the node's init.d/network) and WPA-EAP through a RADIUS
# server (hostapd's own 802.1X authenticator and RADIUS client, always
# built); its stations use WPA-PSK or an open network (lib/vm/station.sh).
WPA_COMMON_CONFIG="CONFIG_DRIVER_NL80211=y
CONFIG_LIBNL32=y
CONFIG_TLS=internal
CONFIG_INTERNAL_LIBTOMMATH=y
CONFIG_GETRANDOM=y
CONFIG_ELOOP_EPOLL=y"

build_wpa() {
  local src
  src=$(fetch wpa) || return 3
  cd "$src/hostapd" || return 1
  printf '%s\n' "$WPA_COMMON_CONFIG" "CONFIG_IEEE80211N=y" >.config
  # The makefiles' default CFLAGS hold -O2 -g; the compiler's -Os stays.
  TARGET_EXTRA_LIBS=$(LIBNL_LIBS) CFLAGS="-MMD -Os -Wall" make -j"$(jobs)" CC="$CC_TARGET" \
    LIBNL_INC="$LIBNL_CACHE/include/libnl3" hostapd hostapd_cli >>"$LOG" 2>&1 || return 1
  install_file hostapd usr/sbin/hostapd && install_file hostapd_cli usr/sbin/hostapd_cli || return 1
  cd "$src/wpa_supplicant" || return 1
  printf '%s\n' "$WPA_COMMON_CONFIG" "CONFIG_CTRL_IFACE=y" "CONFIG_BACKEND=file" "CONFIG_WPA_CLI_EDIT=y" >.config
  TARGET_EXTRA_LIBS=$(LIBNL_LIBS) CFLAGS="-MMD -Os -Wall" make -j"$(jobs)" CC="$CC_TARGET" \
    LIBNL_INC="$LIBNL_CACHE/include/libnl3" wpa_supplicant wpa_cli >>"$LOG" 2>&1 || return 1
  install_file wpa_supplicant sbin/wpa_supplicant && install_file wpa_cli sbin/wpa_cli
}

check_wpa() {
  local v
  v=$(upstream_version)
  check_file usr/sbin/hostapd "hostapd v$v" -v && check_file usr/sbin/hostapd_cli "hostapd_cli v$v" -v &&
    check_file sbin/wpa_supplicant "wpa_supplicant v$v" -v && check_file sbin/wpa_cli "wpa_cli v$v" -v
}

build_dnsmasq() {
  local src
  src=$(fetch dnsmasq) || return 3
  cd "$src" || return 1
  # dnsmasq's default features (DHCP, DNS, TFTP, ...), none that needs a
  # library (D-Bus, IDN, DNSSEC, conntrack, nftables: Debian's extras).
  make -j"$(jobs)" CC="$CC_TARGET" CFLAGS="-Wall -W -Os" PKG_CONFIG=pkg-config all >>"$LOG" 2>&1 || return 1
  install_file src/dnsmasq usr/sbin/dnsmasq
}

check_dnsmasq() { check_file usr/sbin/dnsmasq "Dnsmasq version $(upstream_version)" --version; }

# iptables legacy: the one multi-call file with every extension linked in
# (no shared libraries, so no module to load at run time), no nftables.
build_iptables() {
  local src
  src=$(fetch iptables) || return 3
  cd "$src" || return 1
  ./configure --host="$TRIPLET" --prefix=/usr --sbindir=/usr/sbin --enable-static --disable-shared \
    --disable-nftables --disable-connlabel --disable-dependency-tracking \
    CC="$CC_TARGET" CFLAGS="-Os" PKG_CONFIG=pkg-config >>"$LOG" 2>&1 || return 1
  make -j"$(jobs)" >>"$LOG" 2>&1 || return 1
  install_file iptables/xtables-legacy-multi usr/sbin/xtables-legacy-multi || return 1
  local t
  for t in iptables iptables-save iptables-restore; do ln -sf xtables-legacy-multi "$ROOT/usr/sbin/$t"; done
}

check_iptables() {
  local v t
  v=$(upstream_version)
  check_file usr/sbin/xtables-legacy-multi "" || return 1
  for t in iptables iptables-save iptables-restore; do
    check_link "usr/sbin/$t" "$t v$v (legacy)" --version || return 1
  done
}

# iproute2's ip alone (lib and ip): its configure finds none of this
# machine's optional libraries (pkg-config sees only libnl's cache).
build_iproute2() {
  local src
  src=$(fetch iproute2) || return 3
  cd "$src" || return 1
  CC="$CC_TARGET" AR="$TRIPLET-ar" PKG_CONFIG=pkg-config ./configure --prefix=/usr >>"$LOG" 2>&1 || return 1
  make -j"$(jobs)" CC="$CC_TARGET" HOSTCC=gcc AR="$TRIPLET-ar" CCOPTS="-Os" SUBDIRS="lib ip" >>"$LOG" 2>&1 ||
    return 1
  install_file ip/ip bin/ip
}

# Besides its version, a route netlink request (qemu passes those to this
# machine's kernel in the target's byte order): the loopback link. (qemu
# says "!!!Deficit" of attributes it does not convert; ip is not at fault.)
check_iproute2() {
  check_file bin/ip "iproute2-$(upstream_version)" -V && check_file bin/ip "1: lo: <LOOPBACK" -o link show lo
}

# The upstream version of the package being checked (from its source folder).
upstream_version() { basename "$SRC_DIR" | sed 's/^[^-]*-//'; }

# --- checks ----------------------------------------------------------------------------

# run_target file args...: the file as a 24Kc runs it, under qemu user mode.
run_target() { QEMU_CPU=24Kc timeout 60 qemu-mips-static "$@" 2>&1; }

# expect_target rc text file args...: fails unless the run exits with rc
# and prints exactly text.
expect_target() {
  local want_rc=$1 want=$2 out rc=0
  shift 2
  out=$(run_target "$@") || rc=$?
  if [ "$rc" -ne "$want_rc" ] || [ "$out" != "$want" ]; then
    echo "${*#"$ROOT/"}: exit $rc, printed '$out' (want exit $want_rc, '$want')"
    return 1
  fi
}

# check_file tree-path expected-text args...: a static big-endian MIPS
# executable without FPU instructions that starts on a 24Kc and prints the
# expected text (its version) for the arguments (no run without them).
check_file() {
  local rel=$1 want=$2 path=$ROOT/$1 kind fp fpu
  shift 2
  kind=$(file -b "$path")
  if ! grep -qE '^ELF 32-bit MSB executable, MIPS, .*statically linked' <<<"$kind"; then
    echo "$rel: not a static 32-bit big-endian MIPS executable: $kind"
    return 1
  fi
  # The compiler's mark: every object of the link was soft-float.
  fp=$("$TRIPLET-readelf" -A "$path" | sed -n 's/^FP ABI:[[:space:]]*//p')
  [ "$fp" = "Soft float" ] || { echo "$rel: FP ABI '$fp', not soft-float"; return 1; }
  fpu=$(scripts/fpu_check.sh "$path") || { echo "$fpu"; return 1; }
  local line="$rel: $kind; FP ABI soft float; no FPU instruction"
  if [ $# -gt 0 ]; then
    check_start "$rel" "$want" "$@" || return 1
    line+="; on a 24Kc, '$rel $*' prints: $(grep -F -m 1 -- "$want" <<<"$STARTED")"
  fi
  echo "$line" >>"$CHECKS"
}

# check_link tree-path expected-text args...: a link of a multi-call file,
# started under its own name.
check_link() {
  local rel=$1 want=$2
  shift 2
  check_start "$rel" "$want" "$@" || return 1
  echo "$rel -> $(readlink "$ROOT/$rel"): on a 24Kc, '$rel $*' prints:" \
    "$(grep -F -m 1 -- "$want" <<<"$STARTED")" >>"$CHECKS"
}

check_start() {  # sets STARTED to what the run printed
  local rel=$1 want=$2
  shift 2
  STARTED=$(run_target "$ROOT/$rel" "$@") || true
  # An FPU instruction (or any other the 24Kc lacks) ends the run with SIGILL.
  if grep -q 'uncaught target signal' <<<"$STARTED" || ! grep -qF -- "$want" <<<"$STARTED"; then
    echo "$rel $*: printed no '$want' on a 24Kc:"
    head -n 5 <<<"$STARTED" | sed 's/^/  /'
    return 1
  fi
}

# --- main ----------------------------------------------------------------------------------

times_text() { awk '{ t += $2; s = s sep $1 " " $2 "s"; sep = ", " } END { print t "s: " s }' "$UL/times"; }

elapsed() { awk -v a="$START" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }'; }

tree_complete() {  # the stamp, and every package asked for built, checked and there
  local pkg f
  [ -f "$UL/stamp" ] || return 1
  for pkg in "${SOURCES[@]}"; do
    is_without "$pkg" && continue
    [ -f "$UL/done/$pkg" ] || return 1
    for f in ${FILES[$pkg]}; do [ -f "$UL/root/$f" ] || return 1; done
  done
}

is_without() { local w; for w in "${WITHOUT[@]}"; do [ "$w" = "$1" ] && return 0; done; return 1; }

report_cached() {
  echo "== userland: cached in $UL ($(elapsed)s to tell)"
  echo "   built in $(times_text)"
  [ ! -s "$UL/missing" ] || echo "   $(cat "$UL/missing") (TARGET_USERLAND_WITHOUT)"
  echo "$UL/root"
}

main() {
  local w
  for w in "${WITHOUT[@]}"; do
    [ -n "${FILES[$w]:-}" ] || { echo "TARGET_USERLAND_WITHOUT: $w is none of ${SOURCES[*]}"; return 1; }
  done
  # The quick way: apt's lists as when the versions were asked, the cache there.
  local versions
  if command -v "$TRIPLET-gcc" >/dev/null && versions=$(memo_versions); then
    UL=$TARGET_CACHE/userland-$(key_inputs "$versions" | sha256sum | cut -c1-16)
    if tree_complete; then report_cached; return 0; fi
  fi

  need_packages "${USERLAND_PACKAGES[@]}" || { echo "package installation failed"; return 1; }
  as_project ensure_source_index || return 1
  versions=$(apt_versions) || return 1
  local inputs key
  inputs=$(key_inputs "$versions")
  key=$(sha256sum <<<"$inputs" | cut -c1-16)
  UL=$TARGET_CACHE/userland-$key
  if tree_complete; then report_cached; return 0; fi

  echo "== userland for big-endian MIPS (static, soft-float, musl) into $UL"
  local t0=$SECONDS
  as_project build_musl mips "$MUSL_CACHE" || { echo "musl build failed"; return 1; }
  as_project build_libnl "$LIBNL_CACHE" mips "$MUSL_CACHE" || { echo "libnl build against musl failed"; return 1; }
  local t_base=$((SECONDS - t0))

  ROOT=$UL/root BUILD=$UL/build CC_TARGET=$UL/build/bin/cc
  mkdir -p "$ROOT" "$UL/logs" "$UL/done" "$UL/checks.d"
  echo "$inputs" >"$UL/key"
  export PKG_CONFIG_LIBDIR=$BUILD/pkgconfig PKG_CONFIG_PATH=""
  write_compiler || { echo "cannot write the compiler wrapper"; return 1; }

  local pkg failed=() missing=() unfetched=()
  for pkg in "${SOURCES[@]}"; do
    if is_without "$pkg"; then
      missing+=("$pkg")
      echo "== $pkg: left out (TARGET_USERLAND_WITHOUT)"
      continue
    fi
    CHECKS=$UL/checks.d/$pkg
    if [ -f "$UL/done/$pkg" ]; then
      echo "== $pkg: built and checked before ($(cat "$UL/done/$pkg")s)"
      continue
    fi
    local t=$SECONDS msg rc
    LOG=$UL/logs/$pkg.log
    : >"$LOG"
    echo "== $pkg: building $(grep "^$pkg=" <<<"$versions" | cut -d= -f2)"
    # Each package in a subshell of its own: its folder and variables stay there.
    if msg=$( (build_"$pkg") 2>&1); then
      rc=0
      # The tree has changed: a stamp again only once the whole run is through.
      rm -f "$UL/stamp"
      : >"$CHECKS"
      SRC_DIR=$(find "$BUILD/$pkg-src" -mindepth 1 -maxdepth 1 -type d | head -n 1)
      if msg=$(check_"$pkg" 2>&1); then
        echo "$((SECONDS - t))" >"$UL/done/$pkg"
        echo "== $pkg: built and checked in $((SECONDS - t))s"
        rm -rf "$BUILD/$pkg-src"
        continue
      fi
      echo "== $pkg: built, but its check failed:"
    else
      rc=$?
      if [ $rc -eq 3 ]; then
        echo "== $pkg: its source cannot be had here:"
        { grep -h '^E: ' "$BUILD/$pkg-src/source.log" 2>/dev/null; grep -E 'TARGET_SOURCES|^dpkg-source' <<<"$msg"; } |
          sed 's/^/  /' || true
        unfetched+=("$pkg")
      else
        rm -f "$UL/stamp"
        echo "== $pkg: build failed (log: $LOG):"
        tail -n 25 "$LOG" | sed 's/^/  /'
      fi
    fi
    [ -z "$msg" ] || [ $rc -eq 3 ] || sed 's/^/  /' <<<"$msg"
    failed+=("$pkg")
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "userland incomplete: ${failed[*]} not built (what was built is kept in $UL for the next run)"
    if [ ${#unfetched[@]} -gt 0 ]; then
      echo "without source: ${unfetched[*]}; Debian's files named in its .dsc in a folder TARGET_SOURCES are"
      echo "used instead, or TARGET_USERLAND_WITHOUT=\"${unfetched[*]}\" builds the tree without it"
    fi
    return 1
  fi

  # The tree's contents and the times, then the stamp.
  (cd "$ROOT" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort | while read -r f; do
    if [ -L "$f" ]; then echo "$f -> $(readlink "$f")"; else echo "$f $(stat -c %s "$f")"; fi
  done) >"$UL/sizes"
  { echo "musl+libnl $t_base"; for pkg in "${SOURCES[@]}"; do
      if [ -f "$UL/done/$pkg" ]; then echo "$pkg $(cat "$UL/done/$pkg")"; fi; done; } >"$UL/times"
  for pkg in "${SOURCES[@]}"; do [ ! -f "$UL/checks.d/$pkg" ] || cat "$UL/checks.d/$pkg"; done >"$UL/checks"
  rm -rf "$BUILD"
  if [ ${#missing[@]} -gt 0 ]; then echo "without ${missing[*]}"; fi >"$UL/missing"
  echo "$key" >"$UL/stamp"

  echo "== userland built in $(times_text)"
  echo "   this run: $((SECONDS - t0))s"
  sed 's/^/   /' "$UL/sizes"
  [ ${#missing[@]} -eq 0 ] || echo "   without ${missing[*]} (TARGET_USERLAND_WITHOUT)"
  echo "$ROOT"
}

main "$@"
