# A stand-in of an OpenWrt tree's rules.mk for the openwrt tier: the names a
# package Makefile takes from it, with the values OpenWrt gives them. The
# tier sets TOPDIR to this folder and BUILD_DIR, STAGING_DIR to its own.
INCLUDE_DIR:=$(TOPDIR)/include
INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
INSTALL_DATA:=install -m0644
INSTALL_CONF:=install -m0600
CP:=cp -fpR
LN:=ln -sf
TARGET_CFLAGS:=-Os
