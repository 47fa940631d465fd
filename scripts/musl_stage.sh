#!/usr/bin/env bash
# The product as the virtual mesh's nodes run it: the static multi-call file
# built against musl as the router gets it, and staged by `cmake --install`
# with the package's files.
#   scripts/musl_stage.sh [x86_64]   this machine's processor (cmake/x86_64-musl.cmake),
#                                    staged in $MUSL_X86_64_BUILD/stage (build-musl-x86_64/stage)
#   scripts/musl_stage.sh mips       the router's (cmake/mips-musl.cmake, musl and libnl
#                                    shared with scripts/mips.sh), staged in
#                                    $MIPS_PACKAGE_BUILD/stage (build-mips/package/stage)
set -u
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/musl.sh
. scripts/sources.sh
. scripts/vm/vm-lib.sh

ARCH=${1:-x86_64}
case $ARCH in
  x86_64) DIR=$MUSL_X86_64_BUILD MUSL=$PWD/$DIR/musl-cache LIBNL=$PWD/$DIR/libnl-musl-cache
    BUILD=$DIR/static TOOLCHAIN=cmake/x86_64-musl.cmake ;;
  mips) MUSL=$PWD/build-mips/musl-cache LIBNL=$PWD/build-mips/libnl-musl-cache
    BUILD=$MIPS_PACKAGE_BUILD/static TOOLCHAIN=cmake/mips-musl.cmake ;;
  *) echo "usage: $0 [x86_64|mips]"; exit 2 ;;
esac
STAGE=$(vm_stage_dir "$ARCH")

packages=("${BUILD_PACKAGES[@]}" "${STATIC_PACKAGES[@]}")
[ "$ARCH" = mips ] && packages+=(g++-mips-linux-gnu binutils-mips-linux-gnu)
need_packages "${packages[@]}" || { echo "package installation failed"; exit 1; }
{
  build_musl "$ARCH" "$MUSL" && musl_check "$ARCH" "$MUSL" &&
    build_libnl "$LIBNL" "$ARCH" "$MUSL" &&
    build_static "$BUILD" "$TOOLCHAIN" "$MUSL" "$LIBNL" "${PACKAGE_CMAKE_OPTIONS[@]}"
} || { echo "the $ARCH static build failed"; exit 1; }
rm -rf "$STAGE" && DESTDIR=$PWD/$STAGE cmake --install "$BUILD" >/dev/null || exit 1
# The file the nodes get is static: no loader, no shared library.
bin=$STAGE/usr/bin/fleetlink
if ! [ -x "$bin" ] || readelf -l "$bin" | grep -q INTERP || readelf -d "$bin" 2>/dev/null | grep -q NEEDED; then
  echo "$bin is not a static executable"
  exit 1
fi
echo "== the $ARCH static multi-call file: $(stat -c %s "$bin") bytes, staged in $STAGE"
