# Test servers on 127.0.0.1 (nginx and tinyproxy, see servers.sh) as the ctest
# fixture "servers", and the tests of the HTTP client that use them.
set(MERIDANE_TEST_HTTP_PORT 18480 CACHE STRING "Port of the test nginx on 127.0.0.1")
set(MERIDANE_TEST_PROXY_PORT 18481 CACHE STRING "Port of the test tinyproxy on 127.0.0.1")
set(MERIDANE_TEST_SERVERS_DIR ${CMAKE_BINARY_DIR}/test-servers)

set(_meridane_servers
  bash ${CMAKE_CURRENT_LIST_DIR}/servers.sh)
set(_meridane_servers_args
  ${MERIDANE_TEST_SERVERS_DIR} ${MERIDANE_TEST_HTTP_PORT} ${MERIDANE_TEST_PROXY_PORT})
add_test(NAME servers.start COMMAND ${_meridane_servers} start ${_meridane_servers_args})
add_test(NAME servers.stop COMMAND ${_meridane_servers} stop ${_meridane_servers_args})
set_tests_properties(servers.start PROPERTIES FIXTURES_SETUP servers TIMEOUT 30)
set_tests_properties(servers.stop PROPERTIES FIXTURES_CLEANUP servers TIMEOUT 30)

add_executable(http_tests
  ${PROJECT_SOURCE_DIR}/tests/download/EngineTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/download/HttpClientTest.cpp)
target_link_libraries(http_tests PRIVATE meridane_download GTest::gtest_main GTest::gmock)
target_include_directories(http_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
gtest_discover_tests(http_tests TEST_PREFIX "http_tests." DISCOVERY_TIMEOUT 60 TEST_LIST http_tests_TESTS
  PROPERTIES FIXTURES_REQUIRED servers TIMEOUT 60)
# The discovery script splits every semicolon in PROPERTIES, so an ENVIRONMENT
# of several variables cannot pass through it; this file, read by ctest after
# the discovered tests, sets it instead.
set(_meridane_http_env
  "MERIDANE_TEST_HTTP=127.0.0.1:${MERIDANE_TEST_HTTP_PORT}"
  "MERIDANE_TEST_PROXY=127.0.0.1:${MERIDANE_TEST_PROXY_PORT}"
  "MERIDANE_TEST_SERVERS_DIR=${MERIDANE_TEST_SERVERS_DIR}")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/http_tests_environment.cmake CONTENT [[
if(http_tests_TESTS)
  set_tests_properties(${http_tests_TESTS} PROPERTIES ENVIRONMENT [==[@_meridane_http_env@]==])
endif()
]] @ONLY)
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/http_tests_environment.cmake)
