# The Debian package: `scripts/package.sh` configures the install layout and runs cpack.
# Relative by default so that an install under a prefix stays there; Debian 12 keeps units in
# /lib/systemd/system, which scripts/package.sh passes.
set(VELMORA_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING "Install folder of the systemd unit")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/velmora-headless@.service
    DESTINATION ${VELMORA_SYSTEMD_UNIT_DIR})

set(VELMORA_DEB_DOC_DIR ${PROJECT_BINARY_DIR}/deb-doc)
file(MAKE_DIRECTORY ${VELMORA_DEB_DOC_DIR})
file(COPY ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${VELMORA_DEB_DOC_DIR})
# dpkg expects the changelog compressed and byte-for-byte reproducible (no name, no time).
add_custom_command(OUTPUT ${VELMORA_DEB_DOC_DIR}/changelog.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
            > ${VELMORA_DEB_DOC_DIR}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
# Manual pages are read compressed, made as reproducibly as the changelog.
add_custom_command(OUTPUT ${VELMORA_DEB_DOC_DIR}/velmora.1.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/man/velmora.1
            > ${VELMORA_DEB_DOC_DIR}/velmora.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/man/velmora.1)
add_custom_target(velmora-deb-doc ALL
    DEPENDS ${VELMORA_DEB_DOC_DIR}/changelog.gz ${VELMORA_DEB_DOC_DIR}/velmora.1.gz)
install(FILES ${VELMORA_DEB_DOC_DIR}/copyright ${VELMORA_DEB_DOC_DIR}/changelog.gz
    DESTINATION share/doc/velmora)
install(FILES ${VELMORA_DEB_DOC_DIR}/velmora.1.gz DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora developers <dev@velmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print to remote printers and share local ones")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora sends print jobs to printers of other people and places over a\n\
print service, and lets the printers of this computer be shared the same\n\
way. The package holds the console (with a mode without windows for print\n\
servers), the print queue backend, the job sender and the raster converter.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmora.invalid/")
# The libraries come from dpkg-shlibdeps; these are the programs run by name and the Qt plugins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "cups-daemon, cups-client, cups-filters, polkitd, pkexec, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
