# Install rules and the Debian package: the program as `velmora`, its menu entry, icons
# (the SVG and PNG renders of it made at build time), AppStream metainfo, a man page, the
# licence and third-party notices. `cpack -G DEB` (scripts/package) builds the package.

set(CMAKE_INSTALL_DOCDIR share/doc/velmora)
include(GNUInstallDirs)

set(VELMORA_APP_ID "com.quorvix.velmora")
install(TARGETS Velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Whatever the build type, the installed command is `velmora`.
install(CODE "
  set(_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  if(EXISTS \"\${_dir}/Velmora\" AND NOT EXISTS \"\${_dir}/velmora\")
    file(RENAME \"\${_dir}/Velmora\" \"\${_dir}/velmora\")
  endif()")

# Icons: the SVG as it is, PNGs rendered from it.
set(VELMORA_ICON_SIZES 16 22 24 32 48 64 128 256 512)
add_executable(velmora_iconrender tools/iconrender/main.cpp)
target_link_libraries(velmora_iconrender PRIVATE Qt6::Core Qt6::Gui Qt6::Svg)
set(_icon_dir ${CMAKE_BINARY_DIR}/icons)
set(_icon_pngs)
foreach(size ${VELMORA_ICON_SIZES})
  list(APPEND _icon_pngs ${_icon_dir}/${size}x${size}/${VELMORA_APP_ID}.png)
endforeach()
add_custom_command(
  OUTPUT ${_icon_pngs}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:velmora_iconrender> ${CMAKE_SOURCE_DIR}/app/icons/velmora.svg ${_icon_dir}
          ${VELMORA_ICON_SIZES}
  DEPENDS velmora_iconrender ${CMAKE_SOURCE_DIR}/app/icons/velmora.svg
  COMMENT "Rendering the icon's PNG sizes")
add_custom_target(velmora_icons ALL DEPENDS ${_icon_pngs})
foreach(size ${VELMORA_ICON_SIZES})
  install(FILES ${_icon_dir}/${size}x${size}/${VELMORA_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES app/icons/velmora.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${VELMORA_APP_ID}.svg)

install(FILES dist/${VELMORA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(dist/${VELMORA_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/dist/${VELMORA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/dist/${VELMORA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The man page and the Debian changelog, compressed reproducibly (no name, no time stamp).
string(TIMESTAMP VELMORA_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP VELMORA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(dist/velmora.1 ${CMAKE_BINARY_DIR}/dist/velmora.1 @ONLY)
configure_file(dist/changelog ${CMAKE_BINARY_DIR}/dist/changelog @ONLY)
configure_file(dist/copyright.in ${CMAKE_BINARY_DIR}/dist/copyright @ONLY)
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/dist/velmora.1.gz ${CMAKE_BINARY_DIR}/dist/changelog.gz
  COMMAND ${GZIP_PROGRAM} -n -9 -c ${CMAKE_BINARY_DIR}/dist/velmora.1 >
          ${CMAKE_BINARY_DIR}/dist/velmora.1.gz
  COMMAND ${GZIP_PROGRAM} -n -9 -c ${CMAKE_BINARY_DIR}/dist/changelog >
          ${CMAKE_BINARY_DIR}/dist/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/dist/velmora.1 ${CMAKE_BINARY_DIR}/dist/changelog)
add_custom_target(velmora_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/dist/velmora.1.gz
                                           ${CMAKE_BINARY_DIR}/dist/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/dist/velmora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/dist/changelog.gz ${CMAKE_BINARY_DIR}/dist/copyright LICENSE
              THIRD-PARTY-NOTICES
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- Debian package -------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "${VELMORA_COMPANY}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${VELMORA_COMPANY} <${VELMORA_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor for SQL Server transaction logs")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velmora shows, read-only, the state of every database's transaction log\n\
on a Microsoft SQL Server instance: log size and use, log reuse waits, log\n\
files with their virtual log file statistics, DBCC LOGINFO and DBCC OPENTRAN.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${VELMORA_WEBSITE}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the program links come from dpkg-shlibdeps. Loaded at run time, so named here: the
# SVG plugins that draw every icon (libqt6svg6) and the ODBC driver.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6 (>= 6.4), tdsodbc | msodbcsql18 | msodbcsql17")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
