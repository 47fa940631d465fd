#!/usr/bin/env bash
# The product as the virtual mesh's nodes run it: the static multi-call file
# built for this machine's processor against musl (cmake/x86_64-musl.cmake),
# as the router gets it for its own, and staged by `cmake --install` with the
# package's files into $MUSL_X86_64_BUILD/stage (default build-musl-x86_64/stage).
#   scripts/musl_stage.sh
set -u
cd "$(dirname "$0")/.."
. scripts/lib.sh
. scripts/musl.sh
. scripts/sources.sh
. scripts/vm/vm-lib.sh

DIR=$MUSL_X86_64_BUILD
MUSL=$PWD/$DIR/musl-cache
LIBNL=$PWD/$DIR/libnl-musl-cache
STAGE=$VM_STAGE

need_packages "${BUILD_PACKAGES[@]}" "${STATIC_PACKAGES[@]}" || { echo "package installation failed"; exit 1; }
{
  build_musl x86_64 "$MUSL" && musl_check x86_64 "$MUSL" &&
    build_libnl "$LIBNL" x86_64 "$MUSL" &&
    build_static "$DIR/static" cmake/x86_64-musl.cmake "$MUSL" "$LIBNL" "${PACKAGE_CMAKE_OPTIONS[@]}"
} || { echo "the x86-64 static build failed"; exit 1; }
rm -rf "$STAGE" && DESTDIR=$PWD/$STAGE cmake --install "$DIR/static" >/dev/null || exit 1
# The file the nodes get is static: no loader, no shared library.
bin=$STAGE/usr/bin/fleetlink
if ! [ -x "$bin" ] || readelf -l "$bin" | grep -q INTERP || readelf -d "$bin" 2>/dev/null | grep -q NEEDED; then
  echo "$bin is not a static executable"
  exit 1
fi
echo "== the x86-64 static multi-call file: $(stat -c %s "$bin") bytes, staged in $STAGE"
