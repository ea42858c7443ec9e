# qm_test(<name> LABEL <label> SOURCES ... [DEPS ...] [TIMEOUT s] [ARGS ...] [WINDOWS_ONLY])
#   A GoogleTest executable run by ctest as one test. In the windows configuration ctest runs
#   it under Wine through scripts/wine-run (the toolchain's emulator); in the host one natively
#   under the sanitizers. Labels: base net shell vfs patch auth game ui install tools integration journey
#   powercut.
#
# qm_fuzz(<name> SOURCES ... [DEPS ...])
#   A libFuzzer target, built only in the fuzz configuration; scripts/fuzz runs every target
#   listed in fuzz-targets.txt of the build folder, with its corpus under fuzz/corpus/<name>.
enable_testing()

set(QM_TEST_LABELS base net shell vfs patch auth game ui install tools integration journey powercut)

function(qm_test name)
  cmake_parse_arguments(T "WINDOWS_ONLY" "LABEL;TIMEOUT" "SOURCES;DEPS;ARGS" ${ARGN})
  if(QM_FUZZ OR (T_WINDOWS_ONLY AND NOT WIN32))
    return()
  endif()
  if(NOT T_LABEL IN_LIST QM_TEST_LABELS)
    message(FATAL_ERROR "qm_test(${name}): label '${T_LABEL}' is not one of ${QM_TEST_LABELS}")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} qm::gtest)
  add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QM_TEST_TIMEOUT=${T_TIMEOUT};QM_SOURCE_DIR=${CMAKE_SOURCE_DIR};QM_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

function(qm_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT QM_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  file(APPEND ${CMAKE_BINARY_DIR}/fuzz-targets.txt "${name} ${CMAKE_CURRENT_SOURCE_DIR}\n")
endfunction()

if(QM_FUZZ)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz-targets.txt "")
endif()
