# Test servers on 127.0.0.1 (nginx and tinyproxy, see servers.sh) as the ctest
# fixture "servers", and the tests of the HTTP client that use them. The servers
# take free ports and write their addresses into MERIDANE_TEST_SERVERS_DIR.
set(MERIDANE_TEST_SERVERS_DIR ${CMAKE_BINARY_DIR}/test-servers)

set(_meridane_servers
  bash ${CMAKE_CURRENT_LIST_DIR}/servers.sh)
add_test(NAME servers.start COMMAND ${_meridane_servers} start ${MERIDANE_TEST_SERVERS_DIR})
add_test(NAME servers.stop COMMAND ${_meridane_servers} stop ${MERIDANE_TEST_SERVERS_DIR})
set_tests_properties(servers.start PROPERTIES FIXTURES_SETUP servers TIMEOUT 30)
set_tests_properties(servers.stop PROPERTIES FIXTURES_CLEANUP servers TIMEOUT 30)

# A test executable whose tests need the servers: the fixture, and the servers'
# state folder in the environment.
function(meridane_server_test name)
  cmake_parse_arguments(ARG "ONE_AT_A_TIME" "" "LIBRARIES;SOURCES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60 TEST_LIST ${name}_TESTS
    PROPERTIES FIXTURES_REQUIRED servers TIMEOUT 120)
  # This file, read by ctest after the discovered tests, gives them the
  # environment and the lock (the discovery script splits PROPERTIES at semicolons).
  set(environment "MERIDANE_TEST_SERVERS_DIR=${MERIDANE_TEST_SERVERS_DIR}")
  set(list_variable ${name}_TESTS)
  # Tests that count their requests in the access log must not overlap.
  set(lock "")
  if(ARG_ONE_AT_A_TIME)
    set(lock "RESOURCE_LOCK ${name}")
  endif()
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake CONTENT [[
if(@list_variable@)
  set_tests_properties(${@list_variable@} PROPERTIES ENVIRONMENT [==[@environment@]==] @lock@)
endif()
]] @ONLY)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
endfunction()

meridane_server_test(http_tests
  LIBRARIES meridane_download
  SOURCES ${PROJECT_SOURCE_DIR}/tests/download/EngineTest.cpp ${PROJECT_SOURCE_DIR}/tests/download/HttpClientTest.cpp)
meridane_server_test(ui_server_tests ONE_AT_A_TIME
  LIBRARIES meridane_ui
  SOURCES ${PROJECT_SOURCE_DIR}/tests/ui/FailedFormTest.cpp ${PROJECT_SOURCE_DIR}/tests/ui/MainFormServerTest.cpp)

meridane_server_test(cli_tests ONE_AT_A_TIME
  LIBRARIES meridane_cli JPEG::JPEG PNG::PNG
  SOURCES ${PROJECT_SOURCE_DIR}/tests/cli/CliTest.cpp ${PROJECT_SOURCE_DIR}/tests/cli/CommandsTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/cli/CrashTest.cpp)
add_dependencies(cli_tests meridane-cli)
# Kills the program under test right after a chosen file write (see CrashShim.cpp).
add_library(meridane_crash_shim MODULE ${PROJECT_SOURCE_DIR}/tests/support/CrashShim.cpp)
target_link_libraries(meridane_crash_shim PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(cli_tests meridane_crash_shim)
target_compile_definitions(cli_tests PRIVATE MERIDANE_CRASH_SHIM="$<TARGET_FILE:meridane_crash_shim>")
target_compile_definitions(cli_tests PRIVATE MERIDANE_CLI="$<TARGET_FILE:meridane-cli>")
# The combiner's outputs meet the same power cut.
add_dependencies(cli_tests mosaren)
target_compile_definitions(cli_tests PRIVATE MERIDANE_MOSAREN="$<TARGET_FILE:mosaren>")

# The desktop program's widgets, offscreen, with a main of their own (QtMain.cpp).
find_package(Qt6 REQUIRED COMPONENTS Test)
meridane_server_test(qt_tests ONE_AT_A_TIME
  LIBRARIES meridane_qt meridane_mosaren_qt meridane_vistorel meridane_cli Qt6::Test
  SOURCES ${PROJECT_SOURCE_DIR}/tests/ui/qt/QtMain.cpp ${PROJECT_SOURCE_DIR}/tests/ui/qt/MainWindowTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/ui/qt/DialogsTest.cpp ${PROJECT_SOURCE_DIR}/tests/ui/qt/CombineWindowTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/ui/qt/MapWidgetTest.cpp ${PROJECT_SOURCE_DIR}/tests/ui/qt/MapPickDialogTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/ui/qt/ViewerWindowTest.cpp ${PROJECT_SOURCE_DIR}/tests/ui/qt/ManualPicturesTest.cpp)
add_dependencies(qt_tests meridane)
# The map widget's test task is made of real images; the map dialog's background is the demo server's.
target_link_libraries(qt_tests PRIVATE JPEG::JPEG PNG::PNG meridane_demo)
target_compile_definitions(qt_tests PRIVATE MERIDANE_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}/tests")
target_compile_definitions(qt_tests PRIVATE MERIDANE_DESKTOP="$<TARGET_FILE:meridane>")

# The map combiner: its driver with a recording output, its console in-process,
# and a task downloaded from the servers joined.
meridane_server_test(mosaren_tests
  LIBRARIES meridane_mosaren meridane_cli
  SOURCES ${PROJECT_SOURCE_DIR}/tests/combine/CombineTest.cpp ${PROJECT_SOURCE_DIR}/tests/mosaren/ConsoleTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/mosaren/EndToEndTest.cpp ${PROJECT_SOURCE_DIR}/tests/mosaren/InputsTest.cpp)
# The combiner's outputs read back with sqlite3, GDAL and the pmtiles package, against real images.
find_package(SQLite3 REQUIRED)
target_link_libraries(mosaren_tests PRIVATE SQLite::SQLite3 JPEG::JPEG PNG::PNG PkgConfig::LIBWEBP)
target_compile_definitions(mosaren_tests PRIVATE MERIDANE_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}/tests"
                                                MERIDANE_MOSAREN="$<TARGET_FILE:mosaren>")
add_dependencies(mosaren_tests mosaren)
target_link_libraries(qt_tests PRIVATE SQLite::SQLite3)
