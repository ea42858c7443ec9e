# Imported targets for the third-party libraries, the same names in every configuration:
#   qm::cryptopp  qm::sodium  qm::gcrypt  qm::blake3  qm::fmt  qm::gtest
# Linux takes Debian's -dev packages; Windows takes what scripts/deps built into its cache
# (paths.cmake) and the MinGW packages Debian ships.

set(QM_DEPS_CACHE "$ENV{HOME}/.cache/quillmere-deps" CACHE PATH "Where scripts/deps keeps its builds")
if(EXISTS ${QM_DEPS_CACHE}/paths.cmake)
  include(${QM_DEPS_CACHE}/paths.cmake)
elseif(WIN32)
  message(FATAL_ERROR "Run scripts/deps first: ${QM_DEPS_CACHE}/paths.cmake is missing")
endif()
if(NOT QM_NODE)
  set(QM_NODE node) # the Node that runs the test peers; scripts/deps pins one
endif()

add_library(qm_fmt INTERFACE)
add_library(qm::fmt ALIAS qm_fmt)
target_compile_definitions(qm_fmt INTERFACE FMT_HEADER_ONLY)
if(WIN32)
  target_include_directories(qm_fmt SYSTEM INTERFACE ${QM_FMT_INCLUDE})
endif()

add_library(qm_cryptopp INTERFACE)
add_library(qm::cryptopp ALIAS qm_cryptopp)
add_library(qm_sodium INTERFACE)
add_library(qm::sodium ALIAS qm_sodium)
add_library(qm_gcrypt INTERFACE)
add_library(qm::gcrypt ALIAS qm_gcrypt)

if(WIN32)
  target_include_directories(qm_cryptopp SYSTEM INTERFACE ${QM_CRYPTOPP_WIN}/include)
  target_link_libraries(qm_cryptopp INTERFACE ${QM_CRYPTOPP_WIN}/lib/libcryptopp.a)
  target_include_directories(qm_sodium SYSTEM INTERFACE ${QM_SODIUM_WIN}/include)
  target_compile_definitions(qm_sodium INTERFACE SODIUM_STATIC)
  target_link_libraries(qm_sodium INTERFACE ${QM_SODIUM_WIN}/lib/libsodium.a)
  # Named explicitly: find_library would prefer the DLL import libraries.
  target_link_libraries(qm_gcrypt INTERFACE
    /usr/x86_64-w64-mingw32/lib/libgcrypt.a /usr/x86_64-w64-mingw32/lib/libgpg-error.a ws2_32)
else()
  target_link_libraries(qm_cryptopp INTERFACE cryptopp)
  target_link_libraries(qm_sodium INTERFACE sodium)
  target_link_libraries(qm_gcrypt INTERFACE gcrypt gpg-error)
endif()

# BLAKE3's reference C library with its SIMD assembly, from Debian's librust-blake3-dev.
set(QM_BLAKE3_DIR /usr/share/cargo/registry/blake3-1.3.1/c CACHE PATH "BLAKE3 C sources")
if(WIN32)
  set(blake3_asm_suffix windows_gnu)
else()
  set(blake3_asm_suffix unix)
endif()
add_library(qm_blake3 STATIC
  ${QM_BLAKE3_DIR}/blake3.c ${QM_BLAKE3_DIR}/blake3_dispatch.c ${QM_BLAKE3_DIR}/blake3_portable.c
  ${QM_BLAKE3_DIR}/blake3_sse2_x86-64_${blake3_asm_suffix}.S
  ${QM_BLAKE3_DIR}/blake3_sse41_x86-64_${blake3_asm_suffix}.S
  ${QM_BLAKE3_DIR}/blake3_avx2_x86-64_${blake3_asm_suffix}.S
  ${QM_BLAKE3_DIR}/blake3_avx512_x86-64_${blake3_asm_suffix}.S)
target_include_directories(qm_blake3 SYSTEM PUBLIC ${QM_BLAKE3_DIR})
set_target_properties(qm_blake3 PROPERTIES C_VISIBILITY_PRESET default)
add_library(qm::blake3 ALIAS qm_blake3)

# GoogleTest, built from Debian's sources with whichever compiler this configuration uses.
if(NOT QM_FUZZ)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
  add_library(qm::gtest ALIAS gtest_main)
endif()
