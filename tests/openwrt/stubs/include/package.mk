# A stand-in of OpenWrt's package.mk for the openwrt tier. BuildPackage
# defines three goals instead of building:
#   vars     prints the package's variables, one NAME=value a line
#   prepare  runs the package's Build/Prepare into PKG_BUILD_DIR
#   install  runs Package/<name>/install into IPKG_DIR, from PKG_INSTALL_DIR
PKG_BUILD_DIR?=$(BUILD_DIR)/$(PKG_NAME)$(if $(PKG_VERSION),-$(PKG_VERSION))
PKG_INSTALL_DIR?=$(PKG_BUILD_DIR)/ipkg-install

# As OpenWrt's: a package's own src/ folder is copied into the build folder.
define Build/Prepare/Default
	[ ! -d ./src/ ] || $(CP) ./src/. $(PKG_BUILD_DIR)
endef
Build/Prepare=$(Build/Prepare/Default)

STUB_VARS:=PKG_NAME PKG_VERSION PKG_RELEASE PKG_LICENSE PKG_MAINTAINER PKG_INSTALL CMAKE_INSTALL \
	PKG_BUILD_DIR SECTION CATEGORY TITLE DEPENDS CMAKE_OPTIONS TARGET_CFLAGS

define BuildPackage
$(eval $(Package/$(1)))
$(if $(filter vars,$(MAKECMDGOALS)),$(foreach v,$(STUB_VARS),$(info $(v)=$(strip $($(v))))))
vars: ;
prepare:
	mkdir -p $(PKG_BUILD_DIR)
	$$(Build/Prepare)
install:
	$$(call Package/$(1)/install,$(IPKG_DIR))
endef
