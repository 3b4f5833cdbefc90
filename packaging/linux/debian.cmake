# The Debian package svodar, made by `cpack -G DEB` from a Release build
# (tools/dev.sh deb). It holds what `cmake --install` installs, nothing more.

set(SVODAR_MAINTAINER "Svodar developers <svodar@example.org>")
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/svodar)

# /usr/share/doc/svodar/copyright in Debian's machine-readable format, with the
# licence text of LICENSE ("Expat" is Debian's name for the MIT licence).
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " license "${license}")
set(SVODAR_LICENSE_TEXT " ${license}")
configure_file(linux/copyright.in copyright @ONLY)

# A native package keeps its changelog as changelog.gz.
configure_file(linux/changelog.in changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
    COMMAND ${GZIP_EXECUTABLE} -9nc changelog > changelog.gz
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    VERBATIM)
add_custom_target(svodar_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)

install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME svodar)
set(CPACK_PACKAGE_VENDOR "Svodar developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "суммирование статистических отчетов XML (Сводарь)")
set(CPACK_PACKAGE_DESCRIPTION [=[
Сводарь складывает XML-отчеты филиалов одной формы и периода (svodar в окне,
svodar-cli из командной строки) в сводный отчет головной организации с ее
кодом ОКПО.

Svodar sums statistical XML reports of the same form and period into one
report of the head organisation.]=])
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${SVODAR_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends comes from dpkg-shlibdeps. The X11 and offscreen platform plugins
# ship in libqt6gui6, which libqt6widgets6 brings in. Qt's own texts in
# Russian (dialogs, menus, the command line's help) are no library, so they
# are named here; dpkg-shlibdeps adds the libraries after them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
