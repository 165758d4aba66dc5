# Installation and the Debian package.
#
#   <prefix>/lib/ternbell/     the executable and the files it looks for beside
#                              itself (sound, icon, animation, locale/)
#   <prefix>/bin/ternbell      a relative symbolic link to it
#   <prefix>/share/...         menu entry, icons, AppStream data, man page
#   <sysconf>/xdg/autostart/   the same entry, to start with the session
#
# The program finds its folder through its own path, so the tree can be
# installed under any prefix or DESTDIR and moved as a whole.

set(TERNBELL_INSTALL_DIR lib/ternbell)
set(TERNBELL_MAINTAINER "ternbell maintainers <maintainers@users.noreply.c-seed-f66970ad.example>"
    CACHE STRING "Maintainer of the Debian package")
set(_data ${PROJECT_SOURCE_DIR}/data)
set(_gen ${PROJECT_BINARY_DIR}/data)
file(MAKE_DIRECTORY ${_gen})

install(TARGETS ternbell RUNTIME DESTINATION ${TERNBELL_INSTALL_DIR})
# The decoders, loaded from beside the executable on first use.
install(TARGETS ternbell-decoders LIBRARY DESTINATION ${TERNBELL_INSTALL_DIR})
install(TARGETS ternbell-finder LIBRARY DESTINATION ${TERNBELL_INSTALL_DIR})
# The keyring and preview helpers, started from beside the executable.
install(TARGETS ternbell-keyring ternbell-preview RUNTIME DESTINATION ${TERNBELL_INSTALL_DIR})
if(TARGET ternview)
  install(TARGETS ternview RUNTIME DESTINATION ${TERNBELL_INSTALL_DIR})
endif()
file(GLOB _runtime_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/runtime/*)
install(FILES ${_runtime_files} DESTINATION ${TERNBELL_INSTALL_DIR})
# The compiled catalogs, whatever languages the build made.
install(DIRECTORY ${TERNBELL_RUNTIME_DIR}/locale DESTINATION ${TERNBELL_INSTALL_DIR} OPTIONAL)

install(CODE [[
  set(_bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
  file(MAKE_DIRECTORY "${_bin}")
  message(STATUS "Installing: ${_bin}/ternbell -> ../lib/ternbell/ternbell")
  file(CREATE_LINK ../lib/ternbell/ternbell "${_bin}/ternbell" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/bin/ternbell")
]])

# The menu entry, with Name and Comment translated from the catalogs' sources
# when there are any.
file(GLOB _po CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/po/*.po)
find_program(TERNBELL_MSGFMT msgfmt)
if(_po AND TERNBELL_MSGFMT)
  # msgfmt reads the languages from a LINGUAS file beside the po files; the
  # po folder stays as it is and gets a copy here.
  set(_langs)
  set(_po_copies)
  foreach(_p ${_po})
    get_filename_component(_l ${_p} NAME_WE)
    list(APPEND _langs ${_l})
    configure_file(${_p} ${_gen}/po/${_l}.po COPYONLY)
    list(APPEND _po_copies ${_gen}/po/${_l}.po)
  endforeach()
  list(JOIN _langs "\n" _linguas)
  file(CONFIGURE OUTPUT ${_gen}/po/LINGUAS CONTENT "${_linguas}\n")
  add_custom_command(OUTPUT ${_gen}/ternbell.desktop
    COMMAND ${TERNBELL_MSGFMT} --desktop --template=${_data}/ternbell.desktop.in
            -d ${_gen}/po -o ${_gen}/ternbell.desktop
    DEPENDS ${_data}/ternbell.desktop.in ${_po_copies}
    COMMENT "Translating the menu entry")
else()
  configure_file(${_data}/ternbell.desktop.in ${_gen}/ternbell.desktop COPYONLY)
endif()

configure_file(${_data}/io.github.ternbell.metainfo.xml ${_gen}/io.github.ternbell.metainfo.xml @ONLY)
configure_file(${_data}/ternbell.1 ${_gen}/ternbell.1 @ONLY)
configure_file(${_data}/changelog ${_gen}/changelog @ONLY)
# Debian wants its man pages and changelogs compressed, without a time stamp.
find_program(TERNBELL_GZIP gzip REQUIRED)
foreach(_f ternbell.1 changelog)
  add_custom_command(OUTPUT ${_gen}/${_f}.gz
    COMMAND ${TERNBELL_GZIP} -9nc ${_gen}/${_f} > ${_gen}/${_f}.gz
    DEPENDS ${_gen}/${_f})
endforeach()
add_custom_target(ternbell_data ALL DEPENDS
  ${_gen}/ternbell.desktop ${_gen}/ternbell.1.gz ${_gen}/changelog.gz)

install(FILES ${_gen}/ternbell.desktop DESTINATION share/applications)
install(FILES ${_gen}/io.github.ternbell.metainfo.xml DESTINATION share/metainfo)
install(FILES ${_gen}/ternbell.1.gz DESTINATION share/man/man1)
install(FILES ${_data}/copyright ${_gen}/changelog.gz DESTINATION share/doc/ternbell)
# The provider table is made from files under the Mozilla Public License:
# their licence and source go with it.
install(FILES ${_data}/ispdb/LICENSE ${_data}/ispdb/README.md DESTINATION share/doc/ternbell/ispdb)
install(FILES ${_data}/icons/ternbell.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(_size 16 24 32 48 64 128)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/artwork/app-${_size}.png
          DESTINATION share/icons/hicolor/${_size}x${_size}/apps RENAME ternbell.png)
endforeach()
install(FILES ${_data}/icons/ternbell-256.png DESTINATION share/icons/hicolor/256x256/apps
        RENAME ternbell.png)

# The autostart entry goes where the session looks for it: /etc/xdg for the
# /usr prefix (the package), <prefix>/etc/xdg otherwise. Decided at install
# time, as the package is installed under another prefix than the build's.
install(CODE "set(_entry \"${_gen}/ternbell.desktop\")")
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(_autostart "/etc/xdg/autostart")
  else()
    set(_autostart "${CMAKE_INSTALL_PREFIX}/etc/xdg/autostart")
  endif()
  # file(INSTALL) puts DESTDIR in front itself.
  file(INSTALL "${_entry}" DESTINATION "${_autostart}")
]])

# cpack -G DEB in the build folder makes ternbell_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME ternbell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ternbell developers")
set(CPACK_PACKAGE_CONTACT "${TERNBELL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail notifier for the system tray")
set(CPACK_PACKAGE_DESCRIPTION
  "ternbell lives in the notification area of the desktop and checks POP3 and\n"
  "IMAP4 mailboxes at an interval. It lists the waiting messages in a window and\n"
  "tells about new mail with the window, a sound, the Scroll Lock light, a\n"
  "balloon or a command of the user's own.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The autostart entry lies outside the prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The autostart entry is the one file in /etc: the user's edits there survive
# an upgrade.
file(WRITE ${_gen}/conffiles "/etc/xdg/autostart/ternbell.desktop\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_gen}/conffiles)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
