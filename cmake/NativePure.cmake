# The platform-free logic built natively with clang: keyhaven_pure and its
# unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# libFuzzer targets of fuzz/. Boost.Program_options and GoogleTest are
# compiled here from the same Debian sources the cross build uses, with the
# same instrumentation, so that the settings reader is checked inside the
# library too.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "The native build needs clang (sanitizers, libFuzzer): configure with --preset native")
endif()

option(KEYHAVEN_FUZZERS "Build the libFuzzer targets of fuzz/" ON)

set(KEYHAVEN_BOOST_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/deps/boost-src" CACHE PATH "Unpacked boost1.74 source package")
set(KEYHAVEN_BOOST_INCLUDE_DIR "${PROJECT_SOURCE_DIR}/build/deps/boost/include" CACHE PATH "Boost headers gathered in one tree")
set(KEYHAVEN_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")

# Everything, libraries included, runs under both sanitizers; the first
# report ends the run. _GLIBCXX_ASSERTIONS adds libstdc++'s bounds checks.
set(KEYHAVEN_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${KEYHAVEN_SANITIZERS})
add_link_options(${KEYHAVEN_SANITIZERS})
add_compile_definitions(_GLIBCXX_ASSERTIONS)

include(${CMAKE_CURRENT_LIST_DIR}/Dependencies.cmake)

add_subdirectory(src)
# data_directory(), the log's file writer and the settings file's opening off
# Windows, where there is no c:\nivra and no file security.
target_sources(keyhaven_pure PRIVATE "${PROJECT_SOURCE_DIR}/tests/native/data_directory_native.cpp"
                                     "${PROJECT_SOURCE_DIR}/tests/native/append_file_native.cpp"
                                     "${PROJECT_SOURCE_DIR}/tests/native/settings_file_native.cpp")

if(KEYHAVEN_FUZZERS)
  # Coverage for the fuzzers inside the code under test; plain programs
  # linked with these libraries get the sanitizer runtime's no-op hooks.
  target_compile_options(keyhaven_pure PRIVATE -fsanitize=fuzzer-no-link)
  target_compile_options(boost_program_options PRIVATE -fsanitize=fuzzer-no-link)
endif()

enable_testing()
if(KEYHAVEN_BUILD_TESTS)
  add_subdirectory(tests/native)
endif()
if(KEYHAVEN_FUZZERS)
  add_subdirectory(fuzz)
endif()
