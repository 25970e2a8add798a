# What `cmake --install` puts where, and the Debian package (`cpack -G DEB`).
# The daemon reads its configuration from /etc whatever the prefix, so that is where it goes.

option(VIGILERD_INSTALL_INIT "install the SysV init script, systemd unit and logrotate snippet" OFF)
set(VIGILERD_SYSCONFDIR /etc CACHE PATH "where the daemon and the init systems look (/etc)")
set(VIGILERD_UNITDIR "" CACHE PATH
  "where the systemd unit goes (empty: /lib/systemd/system for the prefix /usr, else /etc/systemd/system)")
set(unitdir ${VIGILERD_UNITDIR})
if(NOT unitdir AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(unitdir /lib/systemd/system)
elseif(NOT unitdir)
  set(unitdir ${VIGILERD_SYSCONFDIR}/systemd/system)
endif()
set(etc ${VIGILERD_SYSCONFDIR})
set(doc ${CMAKE_INSTALL_DOCDIR})

install(TARGETS vigilerd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
if(TARGET vigilerctl)
  install(TARGETS vigilerctl RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
endif()
# Manual pages and the changelog go compressed, as Debian has them.
set(VIGILERD_CHANGELOG ${CMAKE_BINARY_DIR}/dist/changelog)
file(WRITE ${VIGILERD_CHANGELOG} "vigilerd (${PROJECT_VERSION}) stable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- the vigilerd developers <dev@vigilerd.invalid>  Mon, 07 Dec 2026 12:00:00 +0000
")
foreach(page vigilerd.conf.5 vigilerd-service.5 vigilerd.8 vigilerctl.8 changelog)
  set(source ${CMAKE_SOURCE_DIR}/man/${page})
  if(page STREQUAL changelog)
    set(source ${VIGILERD_CHANGELOG})
  endif()
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dist/${page}.gz
    COMMAND gzip -9 -n -c ${source} > ${CMAKE_BINARY_DIR}/dist/${page}.gz DEPENDS ${source})
  list(APPEND compressed ${CMAKE_BINARY_DIR}/dist/${page}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})
install(FILES ${CMAKE_BINARY_DIR}/dist/vigilerd.conf.5.gz ${CMAKE_BINARY_DIR}/dist/vigilerd-service.5.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES ${CMAKE_BINARY_DIR}/dist/vigilerd.8.gz ${CMAKE_BINARY_DIR}/dist/vigilerctl.8.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${CMAKE_BINARY_DIR}/dist/changelog.gz DESTINATION ${doc})
install(FILES LICENSE DESTINATION ${doc} RENAME copyright)

# The init files name the programs where this install puts them.
foreach(file vigilerd.init vigilerd.service vigilerd.procd)
  file(READ ${CMAKE_SOURCE_DIR}/dist/${file} text)
  string(REPLACE "/usr/sbin/" "${CMAKE_INSTALL_FULL_SBINDIR}/" text "${text}")
  file(WRITE ${CMAKE_BINARY_DIR}/dist/${file} "${text}")
endforeach()

set(VIGILERD_CONFFILES "")
message(STATUS "vigilerd: programs in ${CMAKE_INSTALL_FULL_SBINDIR}, manual pages in "
  "${CMAKE_INSTALL_FULL_MANDIR}")
if(VIGILERD_INSTALL_SAMPLE)
  install(FILES etc/vigilerd.conf DESTINATION ${etc})
  file(GLOB services RELATIVE ${CMAKE_SOURCE_DIR}/etc/vigilerd ${CMAKE_SOURCE_DIR}/etc/vigilerd/*)
  foreach(service ${services})
    install(FILES etc/vigilerd/${service} DESTINATION ${etc}/vigilerd)
    list(APPEND VIGILERD_CONFFILES ${etc}/vigilerd/${service})
  endforeach()
  list(APPEND VIGILERD_CONFFILES ${etc}/vigilerd.conf)
  # rc.conf belongs to the box's firmware, not to this package: its sample is an example.
  install(FILES etc/sysconfig/rc.conf DESTINATION ${doc}/examples)
  message(STATUS "vigilerd: sample configuration in ${etc}/vigilerd.conf and ${etc}/vigilerd/, "
    "rc.conf example in ${CMAKE_INSTALL_FULL_DOCDIR}/examples")
endif()
if(VIGILERD_INSTALL_INIT)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/dist/vigilerd.init DESTINATION ${etc}/init.d RENAME vigilerd)
  install(FILES dist/vigilerd.logrotate DESTINATION ${etc}/logrotate.d RENAME vigilerd)
  install(FILES ${CMAKE_BINARY_DIR}/dist/vigilerd.service DESTINATION ${unitdir})
  install(FILES ${CMAKE_BINARY_DIR}/dist/vigilerd.procd DESTINATION ${doc}/examples)
  install(FILES dist/vigilerd.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME vigilerd)
  list(APPEND VIGILERD_CONFFILES ${etc}/init.d/vigilerd ${etc}/logrotate.d/vigilerd)
  message(STATUS "vigilerd: init script ${etc}/init.d/vigilerd, logrotate ${etc}/logrotate.d/"
    "vigilerd, systemd unit ${unitdir}/vigilerd.service, procd example in "
    "${CMAKE_INSTALL_FULL_DOCDIR}/examples")
endif()

# ---- Debian package
set(CPACK_PACKAGE_NAME vigilerd)
set(CPACK_PACKAGE_VENDOR "the vigilerd developers")
set(CPACK_PACKAGE_CONTACT "the vigilerd developers <dev@vigilerd.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "software watchdog for embedded Linux routers and voice gateways")
set(CPACK_PACKAGE_DESCRIPTION "vigilerd runs the status script of every enabled service at a
fixed interval, repairs failing services with their configured commands,
escalates up to a reboot and raises free-space alerts. vigilerctl checks a
configuration and drives the daemon.")
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
set(extra "")
if(VIGILERD_CONFFILES)
  list(JOIN VIGILERD_CONFFILES "\n" conffiles)
  file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "${conffiles}\n")
  list(APPEND extra ${CMAKE_BINARY_DIR}/debian/conffiles)
endif()
if(VIGILERD_INSTALL_INIT)
  # The init script is registered with update-rc.d, disabled: nothing starts before the box's
  # rc.conf says START_VIGILERD=true and someone enables it.
  foreach(script postinst postrm)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/${script}.in ${CMAKE_BINARY_DIR}/debian/${script} @ONLY
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
      WORLD_EXECUTE)
    list(APPEND extra ${CMAKE_BINARY_DIR}/debian/${script})
  endforeach()
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${extra}")
include(CPack)
