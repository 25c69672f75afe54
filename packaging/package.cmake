# What a Debian user expects beside the program, for any install: the manual page, the copyright
# file and the changelog in the documentation folder (compressed with gzip -9n, as Debian keeps
# them), and the AppStream metadata by which software centres list the program.
#
# The maintainer named in the package and its changelog: QUILLFEN_MAINTAINER when set, else
# Debian's DEBFULLNAME and DEBEMAIL, else the author of the source tree's latest commit.
set(QUILLFEN_MAINTAINER "" CACHE STRING "The package's maintainer, as \"Name <address>\"")
set(maintainer "${QUILLFEN_MAINTAINER}")
if(NOT maintainer AND DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
  set(maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
endif()
if(NOT maintainer)
  execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 "--format=%an <%ae>"
                  OUTPUT_VARIABLE maintainer OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT maintainer MATCHES "^[^<>]+ <[^@<>]+@[^@<>]+\\.[^@<>]+>$")
  message(WARNING "No maintainer with an address for the Debian package ('${maintainer}'): "
                  "set QUILLFEN_MAINTAINER")
  set(maintainer "Quillfen developers <quillfen@localhost>")
endif()

set(documents ${CMAKE_CURRENT_BINARY_DIR}/packaging)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${documents}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quillfen.1.in ${documents}/quillfen.1 @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quillfen.metainfo.xml.in
               ${documents}/org.quillfen.Quillfen.metainfo.xml @ONLY)
foreach(document changelog quillfen.1)
  add_custom_command(OUTPUT ${documents}/${document}.gz
                     COMMAND gzip -9nc ${documents}/${document} > ${documents}/${document}.gz
                     DEPENDS ${documents}/${document} VERBATIM)
endforeach()
add_custom_target(documents ALL DEPENDS ${documents}/changelog.gz ${documents}/quillfen.1.gz)
install(FILES ${documents}/quillfen.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${documents}/changelog.gz
        DESTINATION share/doc/quillfen)
install(FILES ${documents}/org.quillfen.Quillfen.metainfo.xml DESTINATION share/metainfo)

# The Debian package: `cmake --workflow --preset deb` configures for the prefix /usr, builds and
# runs cpack, which writes build/deb/quillfen_<version>_<architecture>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillfen)
set(CPACK_PACKAGE_VENDOR Quillfen)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "foot pedal shortcuts for transcription")
# Lines of at most 79 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "Turns a three-pedal USB transcription foot pedal (05f3:00ff) into application
shortcuts: Space, Return, F13 to F20 or a three-line scroll, with an optional
click guard. Includes quillfen-access, a socket-activated helper that hands the
pedal, the keyboards, the pointing devices and /dev/uinput to Quillfen alone,
while its user's session is the active one, and takes them back after.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${maintainer}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links, found by dpkg-shlibdeps; Qt's display plugins and udev, which
# no link shows. On a Wayland desktop Qt's Wayland plugin draws the window natively; without it
# the window goes through XWayland.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, udev")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# udev reads the new rule at once, and applies it to the devices present; the helper's socket is
# enabled and started on installation, stopped on removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
