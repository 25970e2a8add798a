# What `cmake --install` puts where, and the Debian package (`cpack -G DEB`).
# The daemon's own paths are fixed (/etc/vigilerd.conf, /etc/vigilerd/...), so a firmware
# build installs with the prefix /usr, for which sysconfdir is /etc.

option(VIGILERD_INSTALL_INIT "install the SysV init script, systemd unit and logrotate snippet" OFF)

install(TARGETS vigilerd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
if(TARGET vigilerctl)
  install(TARGETS vigilerctl RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
endif()
install(FILES man/vigilerd.conf.5 man/vigilerd-service.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES man/vigilerd.8 man/vigilerctl.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

set(VIGILERD_CONFFILES "")
if(VIGILERD_INSTALL_SAMPLE)
  set(etc ${CMAKE_INSTALL_FULL_SYSCONFDIR})
  install(FILES etc/vigilerd.conf DESTINATION ${etc})
  file(GLOB services RELATIVE ${CMAKE_SOURCE_DIR}/etc/vigilerd ${CMAKE_SOURCE_DIR}/etc/vigilerd/*)
  foreach(service ${services})
    install(FILES etc/vigilerd/${service} DESTINATION ${etc}/vigilerd)
    list(APPEND VIGILERD_CONFFILES ${etc}/vigilerd/${service})
  endforeach()
  list(APPEND VIGILERD_CONFFILES ${etc}/vigilerd.conf)
  # rc.conf belongs to the box's firmware, not to this package: its sample is an example.
  install(FILES etc/sysconfig/rc.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()
if(VIGILERD_INSTALL_INIT)
  set(etc ${CMAKE_INSTALL_FULL_SYSCONFDIR})
  install(PROGRAMS dist/vigilerd.init DESTINATION ${etc}/init.d RENAME vigilerd)
  install(FILES dist/vigilerd.logrotate DESTINATION ${etc}/logrotate.d RENAME vigilerd)
  install(FILES dist/vigilerd.service DESTINATION lib/systemd/system)
  install(FILES dist/vigilerd.procd DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  list(APPEND VIGILERD_CONFFILES ${etc}/init.d/vigilerd ${etc}/logrotate.d/vigilerd)
endif()
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

# ---- Debian package
set(CPACK_PACKAGE_NAME vigilerd)
set(CPACK_PACKAGE_VENDOR "the vigilerd developers")
set(CPACK_PACKAGE_CONTACT "the vigilerd developers <dev@vigilerd.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "software watchdog for embedded Linux routers and voice gateways")
set(CPACK_PACKAGE_DESCRIPTION "vigilerd runs the status script of every enabled service at a fixed
interval, repairs failing services with their configured commands, escalates up to a reboot
and raises free-space alerts. vigilerctl checks a configuration and drives the daemon.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps knows only the build machine's libraries.
  set(arch_of_aarch64 arm64)
  set(arch_of_arm armhf)
  set(arch_of_mipsel mipsel)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${arch_of_${CMAKE_SYSTEM_PROCESSOR}})
  set(CPACK_DEBIAN_PACKAGE_DEPENDS libc6)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
if(VIGILERD_CONFFILES)
  list(JOIN VIGILERD_CONFFILES "\n" conffiles)
  file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "${conffiles}\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
endif()
include(CPack)
