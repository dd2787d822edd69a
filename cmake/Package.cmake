# The installed program: everything under one folder (/usr/lib/meridane), the
# programs linked into /usr/bin (the map combiner as meridane-combine, the map viewer as
# meridane-viewer), the shipped defaults in /etc/meridane, the desktop entries, the file
# types of tasks and archives, the icon, the manual pages and the AppStream file where
# desktops and distributions look for them. `cmake --install` and the Debian package
# (`cpack -G DEB`) both give it.
set(MERIDANE_SYSTEM_FOLDER /usr/lib/meridane)
set(MERIDANE_SYSTEM_FILES ON)
if(NOT CMAKE_INSTALL_PREFIX STREQUAL MERIDANE_SYSTEM_FOLDER)
  # A copy elsewhere (a user's own folder) stays in that folder.
  set(MERIDANE_SYSTEM_FILES OFF)
endif()
set(meridane_package_dir ${CMAKE_BINARY_DIR}/package)

# The defaults the package ships; a user's own settings go to ~/.config/meridane.
configure_file(${PROJECT_SOURCE_DIR}/share/config.ini.in ${meridane_package_dir}/config.ini @ONLY NEWLINE_STYLE CRLF)

# The manual pages and the changelog, compressed as Debian wants them: -n keeps the
# name and time out, so the same sources give the same bytes.
set(meridane_compressed)
foreach(page meridane meridane-cli meridane-combine meridane-viewer)
  configure_file(${PROJECT_SOURCE_DIR}/share/man/${page}.1 ${meridane_package_dir}/man/${page}.1 @ONLY)
  list(APPEND meridane_compressed ${meridane_package_dir}/man/${page}.1)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/share/changelog.Debian ${meridane_package_dir}/changelog.Debian COPYONLY)
list(APPEND meridane_compressed ${meridane_package_dir}/changelog.Debian)
set(meridane_gzipped)
foreach(file ${meridane_compressed})
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file} DEPENDS ${file} VERBATIM)
  list(APPEND meridane_gzipped ${file}.gz)
endforeach()
add_custom_target(meridane_package_files ALL DEPENDS ${meridane_gzipped})

set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# The changelog's newest entry names the package's version, or the package contradicts itself.
file(STRINGS ${PROJECT_SOURCE_DIR}/share/changelog.Debian newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^meridane \\(${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}\\) ")
  message(FATAL_ERROR "share/changelog.Debian begins with \"${newest}\", not version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
endif()

if(MERIDANE_SYSTEM_FILES)
  # The program folder's ini/ leads to /etc/meridane, so the program finds the shipped
  # defaults where it always looks, and an ordinary user, who cannot write there, gets
  # a configuration of their own.
  install(FILES ${meridane_package_dir}/config.ini DESTINATION /etc/meridane)
  file(CREATE_LINK /etc/meridane ${meridane_package_dir}/ini SYMBOLIC)
  install(FILES ${meridane_package_dir}/ini DESTINATION .)
  # Each link in /usr/bin and the program it leads to, relative as both lie under /usr.
  foreach(link meridane:meridane meridane-cli:meridane-cli meridane-combine:mosaren meridane-viewer:vistorel)
    string(REPLACE ":" ";" pair ${link})
    list(GET pair 0 name)
    list(GET pair 1 program)
    file(CREATE_LINK ../lib/meridane/${program} ${meridane_package_dir}/${name} SYMBOLIC)
    install(FILES ${meridane_package_dir}/${name} DESTINATION /usr/bin)
  endforeach()
  set(meridane_share /usr/share)
else()
  install(FILES ${meridane_package_dir}/config.ini DESTINATION ini)
  set(meridane_share share)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/share/meridane.desktop ${PROJECT_SOURCE_DIR}/share/meridane-viewer.desktop
        DESTINATION ${meridane_share}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/share/meridane-mime.xml DESTINATION ${meridane_share}/mime/packages RENAME meridane.xml)
install(FILES ${PROJECT_SOURCE_DIR}/share/meridane.svg DESTINATION ${meridane_share}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/share/org.example.meridane.metainfo.xml DESTINATION ${meridane_share}/metainfo)
list(FILTER meridane_gzipped INCLUDE REGEX "\\.1\\.gz$")
install(FILES ${meridane_gzipped} DESTINATION ${meridane_share}/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/share/copyright ${meridane_package_dir}/changelog.Debian.gz DESTINATION ${meridane_share}/doc/meridane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME meridane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Meridane team <support@meridane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download the satellite map tiles of a rectangle of the earth")
# The long description, lines of at most 80 characters; CPack indents them and puts
# the summary first.
set(CPACK_PACKAGE_DESCRIPTION "Meridane downloads the map tiles of a rectangle at one zoom level with
up to 8 workers, and keeps what is needed to resume, check and repair the
download: a project file, an image list, a log and a failed-tile list.

The package holds the desktop program (meridane), its command line
(meridane-cli), a map viewer for tasks and tile archives (meridane-viewer)
and a combiner that joins the tiles into MBTiles, PMTiles, GeoTIFF or one
picture with a world file (meridane-combine).")
set(CPACK_PACKAGING_INSTALL_PREFIX ${MERIDANE_SYSTEM_FOLDER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# dpkg keeps a user's changes to the shipped defaults across upgrades.
file(WRITE ${meridane_package_dir}/control/conffiles "/etc/meridane/config.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${meridane_package_dir}/control/conffiles)
# Qt draws its text with these on any desktop, and offscreen; the desktop opens
# addresses, the log and the manual through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, xdg-utils")
include(CPack)
