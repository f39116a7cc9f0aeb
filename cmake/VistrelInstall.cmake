# Installation in the usual places (GNUInstallDirs) and the Debian package (scripts/package.sh).
set(_app ${PROJECT_SOURCE_DIR}/Vistrel/app)

install(TARGETS vistrel vistrel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vistrel-cli-record RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vistrel)
install(FILES ${_app}/com.tevrin77.Vistrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_app}/com.tevrin77.Vistrel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_app}/icons/com.tevrin77.Vistrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${_app}/icons/${size}x${size}/com.tevrin77.Vistrel.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# Debian installs manual pages compressed; -n keeps the name and time out so builds repeat.
find_program(VISTREL_GZIP gzip REQUIRED)
set(_vistrel_man_pages)
foreach(_page vistrel.1 vistrel-cli.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${_page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${VISTREL_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/docs/man/${_page} > ${CMAKE_BINARY_DIR}/man/${_page}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${_page} VERBATIM)
  list(APPEND _vistrel_man_pages ${CMAKE_BINARY_DIR}/man/${_page}.gz)
endforeach()
add_custom_target(vistrel-man-pages ALL DEPENDS ${_vistrel_man_pages})
install(FILES ${_vistrel_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/Vistrel/cli/vistrel-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vistrel-cli)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VENDOR tevrin77)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "private, searchable history of what was on your screen")
set(CPACK_PACKAGE_DESCRIPTION
    "While capture is on, Vistrel looks at the screen every few seconds, keeps a frame only when
the screen changed, reads the text in it on this computer, and stores image, text, window title
and application name encrypted in a local library, to search and browse later.")
set(CPACK_PACKAGE_CONTACT "Vistrel developers <vistrel@tevrin77.com>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so the library scan cannot see them: the SVG icon plugins, the English
# recognition model, and the icon theme the screens fall back to.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, tesseract-ocr-eng, adwaita-icon-theme")
# GNOME shows tray icons only with this extension; without it the window minimises instead.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")
set(CPACK_STRIP_FILES ON)
include(CPack)
