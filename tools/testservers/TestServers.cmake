# Real servers for tests, started by ctest fixtures before the tests that need them and ended
# after the last one. One call per test, after qm_test:
#
#   include(${CMAKE_SOURCE_DIR}/tools/testservers/TestServers.cmake)
#   qm_use_test_servers(<test> [CDN] [FAULTS])
#
#   CDN     nginx serving <build>/testservers/cdn/www over HTTPS (start-cdn)
#   FAULTS  the fault-injecting HTTPS server (start-faults, paths listed in faults.js)
#
# The servers run on Linux beside the test, with the Wine bench's test CA. C++ tests read the
# ports and the CDN's folder with tools/testservers/TestServers.h (QM_BUILD_DIR is set by qm_test).
include_guard(GLOBAL)
set(QM_TEST_SERVERS_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")

function(qm_use_test_servers test)
  cmake_parse_arguments(S "CDN;FAULTS" "" "" ${ARGN})
  if(NOT TEST ${test})
    return() # a Windows-only test in another configuration
  endif()
  foreach(kind cdn faults)
    string(TOUPPER ${kind} flag)
    if(NOT S_${flag})
      continue()
    endif()
    get_property(made GLOBAL PROPERTY QM_TEST_SERVER_${flag})
    if(NOT made)
      set(state ${CMAKE_BINARY_DIR}/testservers/${kind})
      add_test(NAME test_server_${kind}_start COMMAND ${QM_TEST_SERVERS_DIR}/start-${kind} ${state})
      add_test(NAME test_server_${kind}_stop COMMAND ${QM_TEST_SERVERS_DIR}/stop-server ${state})
      set_tests_properties(test_server_${kind}_start PROPERTIES FIXTURES_SETUP qm_server_${kind}
        LABELS integration TIMEOUT 300)
      set_tests_properties(test_server_${kind}_stop PROPERTIES FIXTURES_CLEANUP qm_server_${kind}
        LABELS integration TIMEOUT 60)
      set_property(GLOBAL PROPERTY QM_TEST_SERVER_${flag} ON)
    endif()
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED qm_server_${kind})
  endforeach()
endfunction()
