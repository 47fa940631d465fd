#!/usr/bin/env bash
# The openwrt tier: the package against OpenWrt's own parts, built and run
# from build-openwrt/ (OPENWRT_SOURCES, default ../shared/openwrt: OpenWrt's
# uci, libubox and libnl-tiny tarballs and base-files' scripts).
#  1. builds libubox, uci (build-openwrt/bin/uci) and libnl-tiny, cached by
#     their tarballs' names;
#  2. reads the package Makefile with make against the stand-in includes of
#     tests/openwrt/stubs, as a feed and copied into package/, and checks its
#     variables and its preparation of the sources;
#  3. builds the product as the package does (OpenWrt's cmake.mk's options and
#     the Makefile's) against libnl-tiny, installs it, runs the Makefile's
#     install section and compares the package with the staging tree; fails on
#     a needed library that DEPENDS does not declare;
#  4. shell files: sh -n and shellcheck;
#  5. the init scripts' enable, enabled and disable through the real rc.common
#     into an IPKG_INSTROOT tree;
#  6. as root, in a chroot with namespaces of its own (tests/openwrt/node_checks.sh):
#     the init scripts' start, stop, restart and boot with the real daemons,
#     the uci-defaults through boot's uci_apply_defaults, the hotplug script
#     through hotplug-call;
#  7. tests/openwrt/uci_agreement.py, where it exists, with the real uci.
#   scripts/openwrt_tier.sh
set -u
cd "$(dirname "$0")/.."
. scripts/lib.sh
ROOT=$PWD
SRC=${OPENWRT_SOURCES:-../shared/openwrt}
OUT=$ROOT/build-openwrt
STAGING=$OUT/staging
BASE=$SRC/base-files
rc=0
fail() { echo "openwrt: FAIL: $*"; rc=1; }

tarball() { ls "$SRC/$1"-*.tar.gz 2>/dev/null | head -n 1; }
for part in uci libubox libnl-tiny; do
  if [ -z "$(tarball $part)" ]; then
    echo "openwrt tier: no $part tarball in OPENWRT_SOURCES=$SRC: skipped"; exit 77
  fi
done
for f in etc/rc.common etc/init.d/boot lib/functions.sh lib/functions/service.sh lib/functions/system.sh sbin/hotplug-call; do
  [ -f "$BASE/$f" ] || { echo "openwrt tier: no base-files/$f in OPENWRT_SOURCES=$SRC: skipped"; exit 77; }
done
SRC=$(cd "$SRC" && pwd)
BASE=$SRC/base-files
need_packages libjson-c-dev shellcheck busybox-static iproute2 || { echo "package installation failed"; exit 1; }
mkdir -p "$OUT/bin" "$STAGING"

# 1. OpenWrt's parts, each installed into the staging tree under /usr once per tarball.
build_part() {  # build_part name cmake-options...
  local name=$1 tar stamp; shift
  tar=$(tarball "$name")
  stamp=$STAGING/.parts/$(basename "$tar").done
  [ -f "$stamp" ] && return 0
  echo "== building $(basename "$tar")"
  rm -rf "$OUT/parts/$name" && mkdir -p "$OUT/parts/$name" && tar -xzf "$tar" -C "$OUT/parts/$name" || return 1
  local src
  src=$(dirname "$(find "$OUT/parts/$name" -maxdepth 2 -name CMakeLists.txt | head -n 1)")
  cmake -S "$src" -B "$OUT/parts/$name/build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib \
    -DCMAKE_PREFIX_PATH="$STAGING/usr" "$@" >"$OUT/parts/$name.log" 2>&1 &&
    cmake --build "$OUT/parts/$name/build" -j2 >>"$OUT/parts/$name.log" 2>&1 &&
    DESTDIR=$STAGING cmake --install "$OUT/parts/$name/build" >>"$OUT/parts/$name.log" 2>&1 ||
    { tail -n 30 "$OUT/parts/$name.log"; return 1; }
  mkdir -p "$STAGING/.parts" && touch "$stamp"
}
# uci linked with the static libuci and libubox: it runs from where it lies.
build_part libubox -DBUILD_LUA=OFF -DBUILD_EXAMPLES=OFF &&
  build_part uci -DBUILD_LUA=OFF -DBUILD_STATIC=ON &&
  build_part libnl-tiny || { echo "openwrt: building OpenWrt's parts failed"; exit 1; }
cp "$STAGING/usr/bin/uci" "$OUT/bin/uci"
"$OUT/bin/uci" -c "$OUT" show >/dev/null 2>&1 || { echo "openwrt: $OUT/bin/uci does not run"; exit 1; }

# 2. The Makefile, read by make in both layouts of an OpenWrt tree.
STUBS=$ROOT/tests/openwrt/stubs
T=$OUT/tree
rm -rf "$T" && mkdir -p "$T/feed/feeds" "$T/feed/package/feeds/fleetlink" "$T/copy/package/fleetlink/src"
ln -s "$ROOT/openwrt" "$T/feed/feeds/fleetlink"
ln -s ../../../feeds/fleetlink/fleetlink "$T/feed/package/feeds/fleetlink/fleetlink"
cp -a openwrt/fleetlink/. "$T/copy/package/fleetlink/"
# The copy's src/: what the project's git tracks and would track.
git ls-files -z --cached --others --exclude-standard | tar -c --null -T - -f - | tar -x -C "$T/copy/package/fleetlink/src"
pkgmake() {  # pkgmake feed|copy goal...
  local dir=$T/feed/package/feeds/fleetlink/fleetlink build=$T/build-$1
  [ "$1" = copy ] && dir=$T/copy/package/fleetlink
  shift
  make -s -C "$dir" TOPDIR="$STUBS" BUILD_DIR="$build" STAGING_DIR="$STAGING" "$@"
}
before=$rc
version=$(sed -n 's/^project(fleetlink_node VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for layout in feed copy; do
  if ! pkgmake $layout vars >"$T/vars-$layout" 2>"$T/make-$layout.err" || [ -s "$T/make-$layout.err" ]; then
    fail "make cannot read the package ($layout):"; cat "$T/make-$layout.err"; continue
  fi
  var() { sed -n "s/^$1=//p" "$T/vars-$layout"; }
  [ "$(var PKG_NAME)" = fleetlink ] || fail "$layout: PKG_NAME is '$(var PKG_NAME)'"
  [ "$(var PKG_VERSION)" = "$version" ] || fail "$layout: PKG_VERSION '$(var PKG_VERSION)', CMakeLists.txt's $version"
  [[ "$(var PKG_MAINTAINER)" =~ ^[^\<\>]+\ \<[^@\ ]+@[^\>\ ]+\>$ ]] || fail "$layout: PKG_MAINTAINER '$(var PKG_MAINTAINER)' is not Name <address>"
  [ -z "$(var CMAKE_INSTALL)" ] || fail "$layout: CMAKE_INSTALL is set (it stages the whole install tree)"
  case " $(var CMAKE_OPTIONS) " in *CMAKE_BUILD_TYPE*) fail "$layout: CMAKE_OPTIONS overrides cmake.mk's build type" ;; esac
  # Packages of current OpenWrt the product may depend on; a wpad variant is not pinned.
  for dep in $(var DEPENDS); do
    case ${dep#+} in
      libnl-tiny|batctl|kmod-batman-adv|dnsmasq|iptables-nft|iptables-zz-legacy|kmod-ipt-nat|kmod-nft-nat|kmod-nft-compat|libgcc) ;;
      *) fail "$layout: DEPENDS names $dep" ;;
    esac
  done
  pkgmake $layout prepare >"$T/prepare-$layout.log" 2>&1 || { fail "$layout: Build/Prepare fails:"; cat "$T/prepare-$layout.log"; }
done
if ! diff -q "$T/vars-feed" "$T/vars-copy" >/dev/null; then
  diff <(grep -v ^PKG_BUILD_DIR= "$T/vars-feed") <(grep -v ^PKG_BUILD_DIR= "$T/vars-copy") || fail "the two layouts give other variables"
fi
prepared=$T/build-feed/fleetlink-$version
if ! [ -f "$prepared/CMakeLists.txt" ] || ls -d "$prepared"/build* >/dev/null 2>&1; then
  fail "feed: the build folder holds no CMakeLists.txt or a build tree"
fi
diff -r -x '.*' "$prepared" "$T/build-copy/fleetlink-$version" >"$T/prepare.diff" || { fail "the two layouts prepare other sources:"; head -n 20 "$T/prepare.diff"; }
[ $rc = "$before" ] && echo "openwrt: make reads the package as a feed and copied into package/ (PKG_VERSION $version), and both prepare the same sources"

# 3. The product built as the package builds it: OpenWrt's cmake.mk's options, then the Makefile's.
var() { sed -n "s/^$1=//p" "$T/vars-feed"; }
read -r -a cmake_options <<<"$(var CMAKE_OPTIONS)"
target_cflags=$(var TARGET_CFLAGS)
P=$OUT/package
t0=$SECONDS
if CFLAGS=$target_cflags CXXFLAGS=$target_cflags LDFLAGS="-L$STAGING/usr/lib" cmake -S "$prepared" -B "$P/build" \
     --no-warn-unused-cli -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_VERSION=1 -DCMAKE_SYSTEM_PROCESSOR="$(uname -m)" \
     -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
     -DCMAKE_EXE_LINKER_FLAGS:STRING="-L$STAGING/usr/lib" -DCMAKE_FIND_ROOT_PATH="$STAGING/usr;/" \
     -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
     -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_STRIP=: -DCMAKE_INSTALL_PREFIX=/usr \
     -DCMAKE_PREFIX_PATH="$STAGING" -DCMAKE_SKIP_RPATH=TRUE -DCMAKE_C_FLAGS="$target_cflags" \
     -DNODE_WERROR="${NODE_WERROR:-OFF}" "${cmake_options[@]}" >"$P.log" 2>&1 &&
   cmake --build "$P/build" -j2 >>"$P.log" 2>&1 &&
   rm -rf "$P/install" && DESTDIR=$P/install cmake --install "$P/build" >>"$P.log" 2>&1; then
  echo "openwrt: the package's build against libnl-tiny: ok in $((SECONDS - t0))s"
else
  tail -n 40 "$P.log"; echo "openwrt: the package's build failed"; exit 1
fi
IPKG=$P/ipkg
rm -rf "$IPKG" && mkdir -p "$IPKG"
pkgmake feed install PKG_INSTALL_DIR="$P/install" IPKG_DIR="$IPKG" >"$P/install.log" 2>&1 || { fail "the install section fails:"; cat "$P/install.log"; }
# type, path and link target of each entry; the files' bytes
listing() { (cd "$1" && find . -mindepth 1 ! -type d -printf '%y %p %l\n' | sort); }
if diff <(listing "$P/install") <(listing "$IPKG") >"$P/install.diff"; then
  while read -r type path _; do
    [ "$type" = f ] && { cmp -s "$P/install/$path" "$IPKG/$path" || fail "the package's $path is not the staged one"; }
  done < <(listing "$IPKG")
  echo "openwrt: the package holds the $(listing "$IPKG" | wc -l) files and links cmake --install stages"
else
  fail "the package and the staging tree differ (< staged only, > packaged only):"; cat "$P/install.diff"
fi
# Each needed library and the package that brings it. The C library comes
# with every image: musl's libc.so on a router, glibc's libc.so.6 in this
# tier's build on the build machine. libm, libstdc++ and the rest are undeclared.
deps=" $(var DEPENDS) "
needed=$(readelf -d "$IPKG/usr/bin/fleetlink" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for lib in $needed; do
  case $lib in
    libc.so|libc.so.6) pkg= ;;
    libnl-tiny.so*) pkg=libnl-tiny ;;
    libgcc_s.so.1) pkg=libgcc ;;
    libstdc++.so*) pkg=libstdcpp ;;
    *) pkg=undeclared ;;
  esac
  [ -z "$pkg" ] || [[ $deps == *" +$pkg "* ]] || fail "usr/bin/fleetlink needs $lib, which DEPENDS does not declare"
done
echo "openwrt: usr/bin/fleetlink needs:" $needed

# The platform package: make reads it; it installs its four files, each as the project holds it.
PL=$OUT/platform
rm -rf "$PL" && mkdir -p "$PL"
if make -s -C openwrt/fleetlink-platform TOPDIR="$STUBS" BUILD_DIR="$PL/build" vars >"$PL/vars" 2>"$PL/make.err" && ! [ -s "$PL/make.err" ] &&
   make -s -C openwrt/fleetlink-platform TOPDIR="$STUBS" BUILD_DIR="$PL/build" IPKG_DIR="$PL/ipkg" install >>"$PL/make.err" 2>&1; then
  [ "$(sed -n 's/^PKG_VERSION=//p' "$PL/vars")" = "$version" ] || fail "fleetlink-platform: PKG_VERSION is not $version"
  [ "$(sed -n 's/^PKG_MAINTAINER=//p' "$PL/vars")" = "$(var PKG_MAINTAINER)" ] || fail "fleetlink-platform: another PKG_MAINTAINER"
  platform_files="etc/init.d/vlan etc/uci-defaults/80-fleetlink-platform sbin/do_reboot usr/share/udhcpc/default.script"
  [ "$(cd "$PL/ipkg" && find . -type f -perm -u+x | sed 's|^\./||' | sort | tr '\n' ' ')" = "$platform_files " ] ||
    fail "fleetlink-platform installs: $(cd "$PL/ipkg" && find . -type f | tr '\n' ' ')"
  for f in $platform_files; do cmp -s "$PL/ipkg/$f" "openwrt/fleetlink-platform/files/$f" || fail "fleetlink-platform: $f differs"; done
  (cd "$PL/ipkg" && shellcheck -s sh $platform_files) || fail "shellcheck finds faults in fleetlink-platform"
  echo "openwrt: make reads fleetlink-platform, which installs its $(echo $platform_files | wc -w) scripts"
else
  fail "make cannot read or install fleetlink-platform:"; cat "$PL/make.err"
fi

# 4. The package's shell files.
shells="etc/init.d/fleetlink-watchdog etc/init.d/fleetlink-supervisor etc/init.d/fleetlink-clientscout
etc/init.d/fleetlink-ifcounter etc/hotplug.d/iface/50-fleetlink-portsense etc/uci-defaults/90-fleetlink
usr/share/fleetlink/daemon.sh"
for f in $shells; do
  sh -n "$IPKG/$f" || fail "sh -n fails on $f"
done
(cd "$IPKG" && shellcheck -s sh $shells) || fail "shellcheck finds faults"

# 5. enable, enabled and disable through the real rc.common into an IPKG_INSTROOT tree.
I=$OUT/instroot
rm -rf "$I" && mkdir -p "$I/lib/functions" "$I/etc/rc.d" "$I/etc/init.d"
cp "$BASE/lib/functions.sh" "$I/lib/" && cp "$BASE/lib/functions/service.sh" "$I/lib/functions/"
cp "$IPKG"/etc/init.d/* "$I/etc/init.d/"
# script, then its links in ls order: the watchdog stops first and starts first (it keeps the others alive)
init_table="fleetlink-watchdog K05fleetlink-watchdog S95fleetlink-watchdog
fleetlink-supervisor K06fleetlink-supervisor S96fleetlink-supervisor
fleetlink-clientscout K07fleetlink-clientscout S97fleetlink-clientscout
fleetlink-ifcounter K07fleetlink-ifcounter S97fleetlink-ifcounter"
before=$rc
rc_common() { IPKG_INSTROOT=$I sh "$BASE/etc/rc.common" "$I/etc/init.d/$1" "$2"; }
while read -r script links; do
  rc_common "$script" enable || fail "$script enable fails"
  [ "$(ls "$I/etc/rc.d" | tr '\n' ' ')" = "$links " ] || fail "$script enable makes: $(ls "$I/etc/rc.d" | tr '\n' ' ')(wanted $links)"
  for l in $links; do
    [ "$(readlink "$I/etc/rc.d/$l")" = "../init.d/$script" ] || fail "$l links to $(readlink "$I/etc/rc.d/$l")"
  done
  rc_common "$script" enabled || fail "$script enabled says no after enable"
  rc_common "$script" disable || fail "$script disable fails"
  [ -z "$(ls "$I/etc/rc.d")" ] || fail "$script disable leaves: $(ls "$I/etc/rc.d" | tr '\n' ' ')"
  rc_common "$script" enabled && fail "$script enabled says yes after disable"
done <<<"$init_table"
[ $rc = "$before" ] && echo "openwrt: rc.common's enable, enabled and disable of the $(echo "$init_table" | wc -l) init scripts: right links"

# 6. The node's own checks in a chroot of the package on OpenWrt's scripts.
if [ "$(id -u)" -ne 0 ]; then
  echo "openwrt: start, stop, uci-defaults and hotplug runs need root (a chroot in namespaces): skipped"
else
  C=$OUT/chroot
  rm -rf "$C" && mkdir -p "$C"/{bin,sbin,usr/bin,usr/sbin,lib/functions,lib/config,etc/rc.d,etc/config,tmp,var/run,proc,dev,usr/share/libubox}
  cp -a "$IPKG/." "$C/"
  cp "$BASE/etc/rc.common" "$C/etc/" && cp "$BASE/etc/init.d/boot" "$C/etc/init.d/"
  cp "$BASE/lib/functions.sh" "$C/lib/" && cp "$BASE/lib/functions/service.sh" "$BASE/lib/functions/system.sh" "$C/lib/functions/"
  # OpenWrt's build fills in hotplug-call's PATH.
  sed 's|%PATH%|/usr/sbin:/usr/bin:/sbin:/bin|' "$BASE/sbin/hotplug-call" >"$C/sbin/hotplug-call" && chmod 755 "$C/sbin/hotplug-call"
  cp "$STAGING/usr/share/libubox/jshn.sh" "$C/usr/share/libubox/"
  cp "$(find "$OUT/parts/uci" -path '*/sh/uci.sh' | head -n 1)" "$C/lib/config/uci.sh"
  cp "$OUT/bin/uci" "$C/sbin/uci"
  cp -a "$STAGING"/usr/lib/libnl-tiny.so* "$C/usr/lib/" 2>/dev/null || { mkdir -p "$C/usr/lib" && cp -a "$STAGING"/usr/lib/libnl-tiny.so* "$C/usr/lib/"; }
  # The host's tools the scripts use, with the libraries they need.
  for tool in sh basename rm ln ls grep sleep cat mkdir touch sed tr cp mv chmod sync diff; do
    p=$(command -v "$tool") || { fail "no $tool here"; continue; }
    cp -L "$p" "$C/bin/$tool"
    for lib in $(ldd "$p" | grep -o '/[^ ]*'); do mkdir -p "$C$(dirname "$lib")" && cp -L "$lib" "$C$lib"; done
  done
  for lib in $(ldd "$IPKG/usr/bin/fleetlink" | grep -o '/[^ ]*' | grep -v nl-tiny); do
    mkdir -p "$C$(dirname "$lib")" && cp -L "$lib" "$C$lib"
  done
  # OpenWrt's shell is busybox's ash (config_generate needs its export -n); its
  # applets stand in for the tools not copied above (pidof finds a script by its
  # name as OpenWrt's does); ip makes the uplink's cable
  cp -L "$(command -v ip)" "$C/bin/ip"
  cp /bin/busybox "$C/bin/busybox" && ln -sf busybox "$C/bin/sh"
  for applet in $(/bin/busybox --list); do [ -e "$C/bin/$applet" ] || ln -s busybox "$C/bin/$applet"; done
  for lib in $( { ldd "$C/bin/ip"; ldd "$STAGING/usr/bin/jshn"; } | grep -o '/[^ ]*' | grep -v "$STAGING"); do
    mkdir -p "$C$(dirname "$lib")" && cp -L "$lib" "$C$lib"
  done
  cp "$STAGING/usr/bin/jshn" "$C/usr/bin/" && cp -a "$STAGING"/usr/lib/lib{ubox,blobmsg_json}.so* "$C/usr/lib/"
  cp "$BASE/bin/config_generate" "$C/bin/"
  mkdir -p "$C/platform" && cp -a openwrt/fleetlink-platform/files/. "$C/platform/"
  cp tests/openwrt/node_checks.sh "$C/node_checks.sh"
  # The daemons' network namespace has the node's eth0 (ifcounter names itself by its address).
  unshare --mount --net --pid --uts --ipc --fork --propagation private sh -c \
    'ip link add eth0 type veth peer name eth0p && mount -t proc proc "$1/proc" && mkdir -p "$1/sys" && mount -t sysfs sysfs "$1/sys" && touch "$1/dev/null" && mount --bind /dev/null "$1/dev/null" && chroot "$1" /bin/sh /node_checks.sh' \
    sh "$C" || fail "the node's checks (above)"
fi

# 7. The stand-ins of uci against the real one; the programs' uci commands
# over the configuration the platform's defaults made of the stock one.
/usr/bin/python3 tests/openwrt/uci_agreement.py --uci "$OUT/bin/uci" --build "$ROOT/build" || fail "the stand-ins of uci and the real uci disagree"
if [ -d "${C:-}/etc/config" ]; then
  /usr/bin/python3 tests/openwrt/uci_agreement.py --uci "$OUT/bin/uci" --build "$ROOT/build" --confdir "$C/etc/config" \
    --expect-success || fail "the programs' uci commands fail on the platform's node"
fi

exit $rc
