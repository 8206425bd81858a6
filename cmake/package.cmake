# Installation and the Debian package. Programs, libraries, tables and the
# links to the settings lie in one folder below /opt/apps (libraries found
# through the relative RPATH); the settings themselves, the autostart entries
# and the serial-port udev rule go where the desktop and udev look for them.
# For a private install use DESTDIR: cmake --install build, DESTDIR=/tmp/root.
include(CMakePackageConfigHelpers)

# scripts/package.sh builds what the package carries, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VELA_APP_DIR /opt/apps/vela)
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX ${VELA_APP_DIR} CACHE PATH "Install folder" FORCE)
endif()
set(VELA_SYSCONF_DIR /etc CACHE PATH "Settings and autostart entries go below this folder")
set(VELA_UDEV_RULES_DIR /lib/udev/rules.d CACHE PATH "Folder of the serial-port udev rule")
set(VELA_CONFIG_DIR ${VELA_SYSCONF_DIR}/opt/vela)
set(VELA_INSTALL_BINDIR ${VELA_APP_DIR}/bin)
set(VELA_PKG ${CMAKE_SOURCE_DIR}/packaging)
set(VELA_PKG_OUT ${CMAKE_BINARY_DIR}/packaging)

# CMake package configuration for applications built against the bus.
if(TARGET zqipc AND TARGET sharedkit)
  install(EXPORT VelaTargets NAMESPACE Vela:: DESTINATION lib/cmake/Vela)
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VelaConfig.cmake.in
    ${VELA_PKG_OUT}/VelaConfig.cmake INSTALL_DESTINATION lib/cmake/Vela)
  write_basic_package_version_file(${VELA_PKG_OUT}/VelaConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${VELA_PKG_OUT}/VelaConfig.cmake ${VELA_PKG_OUT}/VelaConfigVersion.cmake
    DESTINATION lib/cmake/Vela)
endif()

# Settings a panel's integrator edits: conffiles in /etc/opt, so an upgrade
# keeps them, and linked from the program folder, where the programs read.
install(FILES ${VELA_PKG}/version.ini ${CMAKE_SOURCE_DIR}/center/data/apps.ini DESTINATION ${VELA_CONFIG_DIR})
file(MAKE_DIRECTORY ${VELA_PKG_OUT}/links)
foreach(n version.ini apps.ini)
  file(CREATE_LINK ${VELA_CONFIG_DIR}/${n} ${VELA_PKG_OUT}/links/${n} SYMBOLIC)
  install(FILES ${VELA_PKG_OUT}/links/${n} DESTINATION bin)
endforeach()
set(VELA_CONFFILES ${VELA_CONFIG_DIR}/version.ini ${VELA_CONFIG_DIR}/apps.ini)

# Started at log-in by the desktop. The agent's entry comes with the agent.
set(VELA_AUTOSTART velacenter)
if(TARGET VelaStrokeAccelerate)
  install(TARGETS VelaStrokeAccelerate RUNTIME DESTINATION bin)
  list(APPEND VELA_AUTOSTART VelaStrokeAccelerate)
endif()
# The fleet bridge starts too; it exits at once unless [Fleet] names a broker.
if(TARGET velabridge)
  list(APPEND VELA_AUTOSTART velabridge)
endif()
foreach(app ${VELA_AUTOSTART})
  configure_file(${VELA_PKG}/${app}.desktop.in ${VELA_PKG_OUT}/${app}.desktop @ONLY)
  install(FILES ${VELA_PKG_OUT}/${app}.desktop DESTINATION ${VELA_SYSCONF_DIR}/xdg/autostart)
  list(APPEND VELA_CONFFILES ${VELA_SYSCONF_DIR}/xdg/autostart/${app}.desktop)
endforeach()

install(FILES ${VELA_PKG}/70-vela-mainboard.rules DESTINATION ${VELA_UDEV_RULES_DIR})

# What a Debian package must carry besides the payload.
execute_process(COMMAND gzip -9nc ${VELA_PKG}/changelog OUTPUT_FILE ${VELA_PKG_OUT}/changelog.gz)
install(FILES ${VELA_PKG}/copyright ${VELA_PKG_OUT}/changelog.gz DESTINATION /usr/share/doc/vela)
install(FILES ${VELA_PKG}/lintian-overrides DESTINATION /usr/share/lintian/overrides RENAME vela)

list(JOIN VELA_CONFFILES "\n" conffiles)
file(WRITE ${VELA_PKG_OUT}/conffiles "${conffiles}\n")
configure_file(${VELA_PKG}/postinst ${VELA_PKG_OUT}/postinst COPYONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vela)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vela developers")
set(CPACK_PACKAGE_CONTACT "The Vela developers <dev@vela.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control centre of the Vela classroom display")
set(CPACK_PACKAGE_DESCRIPTION "velacenter bridges the display mainboard on its serial port and the suite's
applications on the local message bus, and starts with the desktop session.
The package also carries the bus library for the suite's applications, the
serial test tool serialtest, the fleet bridge velabridge (idle unless
configured), and the developer tools zqbus, boardsim and velatables.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${VELA_APP_DIR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${VELA_PKG_OUT}/conffiles;${VELA_PKG_OUT}/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
