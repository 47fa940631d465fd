# What `cmake --install` stages: the programs under bin (the multi-call file
# and its links, or the seven programs), and with NODE_INSTALL_ETC the node's
# files of the OpenWrt package (openwrt/fleetlink/files). Nothing of the tests.
include(GNUInstallDirs)

get_property(node_programs GLOBAL PROPERTY NODE_PROGRAMS)
if(NODE_MULTICALL)
  install(TARGETS fleetlink RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(name IN LISTS NODE_MULTICALL_NAMES)
    install(FILES ${CMAKE_BINARY_DIR}/multicall/${name} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
else()
  install(TARGETS ${node_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(NODE_INSTALL_ETC)
  set(files ${CMAKE_SOURCE_DIR}/openwrt/fleetlink/files)
  # /etc whatever the prefix: for the prefix /usr, GNUInstallDirs makes it /etc.
  set(etc ${CMAKE_INSTALL_FULL_SYSCONFDIR})
  install(PROGRAMS ${files}/etc/init.d/fleetlink-watchdog ${files}/etc/init.d/fleetlink-supervisor
                   ${files}/etc/init.d/fleetlink-clientscout ${files}/etc/init.d/fleetlink-ifcounter
          DESTINATION ${etc}/init.d)
  install(PROGRAMS ${files}/etc/hotplug.d/iface/50-fleetlink-portsense DESTINATION ${etc}/hotplug.d/iface)
  configure_file(${files}/etc/uci-defaults/90-fleetlink.in ${CMAKE_BINARY_DIR}/uci-defaults/90-fleetlink @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/uci-defaults/90-fleetlink DESTINATION ${etc}/uci-defaults)
  install(FILES ${files}/etc/config/dashboard ${files}/etc/config/node DESTINATION ${etc}/config)
  install(FILES ${files}/usr/share/fleetlink/daemon.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/fleetlink)
endif()
