# The user manual: docs/manual/index.md made into help/index.html by cmark-gfm, the
# pictures of the windows beside it, in the build folder (a runnable program folder)
# and in the installed program folder, where "User manual" opens it.
find_program(MERIDANE_CMARK_GFM cmark-gfm REQUIRED)
set(meridane_manual ${PROJECT_SOURCE_DIR}/docs/manual)
set(meridane_help ${CMAKE_BINARY_DIR}/help)
file(GLOB meridane_manual_pictures CONFIGURE_DEPENDS ${meridane_manual}/*.png)
set(meridane_help_files ${meridane_help}/index.html)
foreach(picture ${meridane_manual_pictures})
  get_filename_component(name ${picture} NAME)
  add_custom_command(OUTPUT ${meridane_help}/${name} COMMAND ${CMAKE_COMMAND} -E copy ${picture} ${meridane_help}/${name}
                     DEPENDS ${picture} VERBATIM)
  list(APPEND meridane_help_files ${meridane_help}/${name})
endforeach()
add_custom_command(
  OUTPUT ${meridane_help}/index.html
  COMMAND ${CMAKE_COMMAND} -DCMARK_GFM=${MERIDANE_CMARK_GFM} -DSOURCE=${meridane_manual}/index.md
          -DTEMPLATE=${meridane_manual}/page.html.in -DVERSION=${PROJECT_VERSION} -DOUTPUT=${meridane_help}/index.html
          -P ${PROJECT_SOURCE_DIR}/cmake/ManualPage.cmake
  DEPENDS ${meridane_manual}/index.md ${meridane_manual}/page.html.in ${PROJECT_SOURCE_DIR}/cmake/ManualPage.cmake
  VERBATIM)
add_custom_target(meridane_manual ALL DEPENDS ${meridane_help_files})
install(FILES ${meridane_help_files} DESTINATION help)
