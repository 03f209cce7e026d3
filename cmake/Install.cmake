# What `cmake --install` puts under the prefix (DESTDIR honoured) and the Debian package `cpack -G DEB` builds.
# The bus activation files are per user (`orvelwddx -RegServer`); the service's systemd user units come with the
# install, and the package enables their socket for every user.
include(GNUInstallDirs)

set(ORVEL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvelwddx)
install(TARGETS orvelwddx orvelwddx-service orvelwddx-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The service looks for its postal and bank data in share/orvelwddx beside its bin folder; the licences travel with it.
install(FILES src/rules/data/postleitzahlen.tsv src/rules/data/postleitzahlen.LICENCE.md
              src/rules/data/bankleitzahlen.tsv src/rules/data/bankleitzahlen.LICENCE.md src/rules/data/blz-methods.tsv
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/orvelwddx)
install(FILES README.md LICENSE DESTINATION ${ORVEL_DOC_DIR})
# The checking rules for programs that link them: one header per family, the static libraries and a relocatable
# pkg-config file (src/rules/README.md).
file(GLOB ORVEL_RULES_HEADERS ${PROJECT_SOURCE_DIR}/src/rules/*.h)
install(FILES ${ORVEL_RULES_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvelwddx/rules)
install(TARGETS orvel_rules orvel_platform ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH ORVEL_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(packaging/orvelwddx-rules.pc.in ${PROJECT_BINARY_DIR}/orvelwddx-rules.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvelwddx-rules.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES packaging/orvelwddx.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES packaging/orvelwddx.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
install(CODE "set(ORVEL_PACKAGING \"${PROJECT_SOURCE_DIR}/packaging\")
set(ORVEL_STAGE \"${PROJECT_BINARY_DIR}/systemd\")
set(ORVEL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
include(\"${PROJECT_SOURCE_DIR}/cmake/ServiceUnits.cmake\")")

set(CPACK_PACKAGE_NAME orvelwddx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "OrvelWddx")
set(CPACK_PACKAGE_CONTACT "OrvelWddx developers <orvelwddx@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "checks bank accounts, IBANs, BICs, cards, addresses and VAT ids")
set(CPACK_PACKAGE_DESCRIPTION
    "An automation server on the D-Bus session bus and a German window that check payment and address data.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Depends from the shared libraries the program links (dpkg-shlibdeps); the bus and the root bundle are the
# desktop's and usually there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl is loaded at its first use, so no program links it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates, default-dbus-session-bus | dbus-session-bus, qt6-translations-l10n")
# The scripts enable the socket unit for every user on installation and take it away on removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
