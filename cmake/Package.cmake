# The installed program: everything under one folder (/opt/meridane), the
# programs linked into /usr/bin (the map combiner as meridane-combine, the map viewer as
# meridane-viewer), the desktop entries, the file types of tasks and archives, and the icon
# where desktops look for them. `cmake --install` and the Debian package (`cpack -G DEB`) both give it.
set(MERIDANE_SYSTEM_FILES ON)
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/opt/meridane")
  # A copy elsewhere (a user's own folder) stays in that folder.
  set(MERIDANE_SYSTEM_FILES OFF)
endif()

# The defaults the package ships; a user's own settings go to ~/.config/meridane.
configure_file(${PROJECT_SOURCE_DIR}/share/config.ini.in ${CMAKE_BINARY_DIR}/package/config.ini @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/package/config.ini DESTINATION ini)

if(MERIDANE_SYSTEM_FILES)
  # Each link in /usr/bin and the program it leads to.
  foreach(link meridane:meridane meridane-cli:meridane-cli meridane-combine:mosaren meridane-viewer:vistorel)
    string(REPLACE ":" ";" pair ${link})
    list(GET pair 0 name)
    list(GET pair 1 program)
    file(CREATE_LINK ${CMAKE_INSTALL_PREFIX}/${program} ${CMAKE_BINARY_DIR}/package/${name} SYMBOLIC)
    install(FILES ${CMAKE_BINARY_DIR}/package/${name} DESTINATION /usr/bin)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/share/meridane.desktop ${PROJECT_SOURCE_DIR}/share/meridane-viewer.desktop
          DESTINATION /usr/share/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/share/meridane-mime.xml DESTINATION /usr/share/mime/packages RENAME meridane.xml)
  install(FILES ${PROJECT_SOURCE_DIR}/share/meridane.svg DESTINATION /usr/share/icons/hicolor/scalable/apps)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/share/meridane.desktop ${PROJECT_SOURCE_DIR}/share/meridane-viewer.desktop
          DESTINATION share/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/share/meridane-mime.xml DESTINATION share/mime/packages RENAME meridane.xml)
  install(FILES ${PROJECT_SOURCE_DIR}/share/meridane.svg DESTINATION share/icons/hicolor/scalable/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME meridane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Meridane team <support@meridane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Downloads the satellite map tiles of a rectangle of the earth")
set(CPACK_PACKAGE_DESCRIPTION "A desktop program and a command line that download the map tiles of a rectangle\
 at one zoom level with up to 8 workers, and keep what is needed to resume, check and repair the download.")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/meridane)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt draws its text with these on any desktop, and offscreen; the desktop opens
# addresses, the log and the manual through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, xdg-utils")
include(CPack)
