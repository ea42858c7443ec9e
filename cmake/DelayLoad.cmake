# Delayed imports for MinGW-w64. A DLL that Windows does not always load from System32 is
# imported through a delay-import library, so it loads on first use, after the launcher has
# restricted the DLL search to System32, and never from the folder it was started from.
# The library is made once per configuration with dlltool, from the names of the regular
# import library; it goes on the link line right after the library that calls the DLL and
# before the regular import library, followed by delayimp (the loader helper).
#
#   qm_delay_load(qm_net winhttp crypt32)   # in place of linking winhttp and crypt32
find_program(QM_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
find_program(QM_NM NAMES x86_64-w64-mingw32-nm REQUIRED)

function(qm_delay_import_library dll out)
  set(library ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
  if(NOT EXISTS ${library})
    find_library(QM_IMPORT_${dll} NAMES ${dll} REQUIRED)
    execute_process(COMMAND ${QM_NM} ${QM_IMPORT_${dll}} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    # Functions only: an export with a thunk ("T name") beside its import slot ("I __imp_name").
    string(REGEX MATCHALL "[ \n]I __imp_[A-Za-z0-9_@?$]+" slots "${symbols}")
    set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(slot IN LISTS slots)
      string(REGEX REPLACE "^[ \n]I __imp_" "" name "${slot}")
      string(FIND "${symbols}" " T ${name}\n" thunk)
      if(NOT thunk EQUAL -1)
        string(APPEND def "${name}\n")
      endif()
    endforeach()
    file(WRITE ${CMAKE_BINARY_DIR}/delayload/${dll}.def "${def}")
    execute_process(COMMAND ${QM_DLLTOOL} --input-def ${CMAKE_BINARY_DIR}/delayload/${dll}.def
      --dllname ${dll}.dll --output-delaylib ${library} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(${out} ${library} PARENT_SCOPE)
endfunction()

function(qm_delay_load target)
  set(libraries)
  foreach(dll IN LISTS ARGN)
    qm_delay_import_library(${dll} library)
    list(APPEND libraries ${library} ${dll})
  endforeach()
  target_link_libraries(${target} PUBLIC ${libraries} delayimp)
endfunction()
