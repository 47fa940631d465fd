#!/usr/bin/env bash
# Checks the OpenWrt package where no OpenWrt SDK can be had: the files its
# install section puts into the package are exactly those `cmake --install`
# stages (the same paths, and each taken from the same path of the
# staging tree), and every shell file of the package passes `sh -n` and
# shellcheck.
#   scripts/package_check.sh <staging tree of a build with CMAKE_INSTALL_PREFIX=/usr and NODE_INSTALL_ETC=ON>
set -u
cd "$(dirname "$0")/.."
stage=${1:?usage: package_check.sh <staging tree>}
pkg=openwrt/fleetlink
rc=0

staged=$(cd "$stage" && find . \( -type f -o -type l \) | sed 's|^\.||' | sort)
# "$(INSTALL_BIN) $(PKG_INSTALL_DIR)/usr/bin/x $(1)/usr/bin/x" and the like
packaged=$(sed -n 's|^\t$([A-Z_]*) $(PKG_INSTALL_DIR)\(/[^ ]*\) $(1)\(/[^ ]*\)$|\1 \2|p' "$pkg/Makefile" | sort)
mismatched=$(echo "$packaged" | awk '$1 != $2')
if [ -n "$mismatched" ]; then
  echo "package: installed under another path than staged: $mismatched"; rc=1
fi
if ! diff <(echo "$staged") <(echo "$packaged" | awk '{ print $2 }' | sort) >/tmp/package_check.diff; then
  echo "package: its install section and the staging tree differ (< staged only, > packaged only):"
  cat /tmp/package_check.diff; rc=1
else
  echo "package: installs the $(echo "$staged" | wc -l) files cmake --install stages"
fi

shells=$(cd "$pkg/files" && grep -rlE '^#!/bin/sh' . | sed 's|^\./||' | sort)
shells="$shells usr/share/fleetlink/daemon.sh"
for f in $shells; do
  sh -n "$pkg/files/$f" || { echo "package: sh -n fails on $f"; rc=1; }
done
(cd "$pkg/files" && shellcheck -s sh $shells) || { echo "package: shellcheck finds faults"; rc=1; }
[ $rc -eq 0 ] && echo "package: $(echo $shells | wc -w) shell files pass sh -n and shellcheck"
exit $rc
