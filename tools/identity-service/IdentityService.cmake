# The reference identity service as a ctest fixture: started before the tests that need it
# and ended after the last one. One call per test, after qm_test:
#
#   include(${CMAKE_SOURCE_DIR}/tools/identity-service/IdentityService.cmake)
#   qm_use_identity_service(<test>)
#
# Its state folder is <build>/testservers/identity; tests read the port from its "port" file
# (TestServers::ReadPort("identity", "") in tools/testservers/TestServers.h).
include_guard(GLOBAL)
set(QM_IDENTITY_SERVICE_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")

function(qm_use_identity_service test)
  if(NOT TEST ${test})
    return() # a Windows-only test in another configuration
  endif()
  # if(TEST) sees only this folder's tests: a global mark keeps the fixture one pair for all.
  get_property(made GLOBAL PROPERTY QM_IDENTITY_SERVICE_FIXTURE)
  if(NOT made)
    set_property(GLOBAL PROPERTY QM_IDENTITY_SERVICE_FIXTURE ON)
    set(state ${CMAKE_BINARY_DIR}/testservers/identity)
    add_test(NAME test_server_identity_start COMMAND ${QM_IDENTITY_SERVICE_DIR}/start-identity ${state})
    add_test(NAME test_server_identity_stop
      COMMAND ${QM_IDENTITY_SERVICE_DIR}/../testservers/stop-server ${state})
    set_tests_properties(test_server_identity_start PROPERTIES FIXTURES_SETUP qm_server_identity
      LABELS integration TIMEOUT 300)
    set_tests_properties(test_server_identity_stop PROPERTIES FIXTURES_CLEANUP qm_server_identity
      LABELS integration TIMEOUT 60)
  endif()
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED qm_server_identity)
  # The switches are one state for every caller, so the tests that flip them take turns.
  set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK qm_server_identity)
endfunction()
