# The web service's own package, kivo-lab_<version>_amd64.deb, made apart from the benches'
# package (whose content it leaves as it is): its files are installed under the component
# "lab", left out of the default install (and so out of cpack's package), and packed by
# `cmake --build BUILD --target kivo-lab-deb` (or BUILD/packaging/lab/make-lab-deb [FOLDER]).
set(KIVO_LAB_PACKAGING ${CMAKE_SOURCE_DIR}/packaging/lab)
install(FILES ${KIVO_LAB_PACKAGING}/kivo-lab.service DESTINATION /lib/systemd/system
        COMPONENT lab EXCLUDE_FROM_ALL)
install(FILES ${KIVO_LAB_PACKAGING}/kivo-lab.ini DESTINATION /etc/kivo-lab
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ COMPONENT lab EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION /usr/share/doc/kivo-lab RENAME README
        COMPONENT lab EXCLUDE_FROM_ALL)

configure_file(${KIVO_LAB_PACKAGING}/make-lab-deb.in ${CMAKE_BINARY_DIR}/packaging/lab/make-lab-deb
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
add_custom_target(kivo-lab-deb COMMAND ${CMAKE_BINARY_DIR}/packaging/lab/make-lab-deb
                  DEPENDS kivo-lab VERBATIM)
