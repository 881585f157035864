# The Debian package: `cpack -G DEB` in a build folder makes kivo_<version>_amd64.deb, which
# installs the program into /opt/kivo with its template and a default account file, a
# desktop entry with the icon and the Chinese name, and declares what the program needs.

# The default account file "admin"/"579", GBK with CR LF, as the program itself writes it.
set(KIVO_DEFAULT_ACCOUNTS ${CMAKE_BINARY_DIR}/packaging/data.bk)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(WRITE ${KIVO_DEFAULT_ACCOUNTS} "admin\r\n579\r\n")
install(FILES ${KIVO_DEFAULT_ACCOUNTS} DESTINATION ${KIVO_INSTALL_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE WORLD_READ)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/kivo.desktop DESTINATION /usr/share/applications)
# For the lab server's administrator: adds a bench's own role (see the README, "The lab server").
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/kivo-add-bench DESTINATION ${KIVO_INSTALL_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/images/program_icon.png
        DESTINATION /usr/share/icons/hicolor/128x128/apps RENAME kivo.png)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kivo <kivo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "混凝土氯离子电通量测定仪 — control and recording program")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/kivo)
set(CPACK_WARN_ON_ABSOLUTE_INSTALL_DESTINATION OFF)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6printsupport6 (>= 6.4), libsqlite3-0 (>= 3.40), libpq5, libqrencode4, qt6-qpa-plugins, qt6-translations-l10n, fonts-arphic-uming | fonts-noto-cjk, libreoffice-calc-nogui | libreoffice-calc, libuno-cppu3, libuno-sal3, libuno-cppuhelpergcc3-3, libuno-salhelpergcc3-3")
# The lab's operators (members of dialout, which the serial port needs anyway) keep the
# account file up to date; a changed account file survives upgrades.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_BINARY_DIR}/packaging/conffiles)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "/opt/kivo/data.bk\n")
include(CPack)

# The lab's web service has a package of its own.
if(TARGET kivo-lab)
  include(${CMAKE_SOURCE_DIR}/packaging/lab/lab_package.cmake)
endif()
