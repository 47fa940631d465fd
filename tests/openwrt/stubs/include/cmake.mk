# A stand-in of OpenWrt's cmake.mk for the openwrt tier: as OpenWrt's, a
# CMake package installs into PKG_INSTALL_DIR. How OpenWrt's configures
# CMake is written out in scripts/openwrt_tier.sh, which builds the product so.
PKG_INSTALL:=1
