# Boost.Program_options and (for tests) GoogleTest.
#
# On Debian the cross build compiles both from Debian's own sources:
# KEYHAVEN_BOOST_SOURCE_DIR points at the unpacked boost1.74 source package
# (tools/fetch-deps.sh), KEYHAVEN_GTEST_SOURCE_DIR at /usr/src/googletest.
# Elsewhere (MSVC) the usual find_package lookups apply.

if(KEYHAVEN_BOOST_SOURCE_DIR)
  file(GLOB _po_sources "${KEYHAVEN_BOOST_SOURCE_DIR}/libs/program_options/src/*.cpp")
  if(NOT _po_sources)
    message(FATAL_ERROR "No Boost.Program_options sources under ${KEYHAVEN_BOOST_SOURCE_DIR}; run tools/fetch-deps.sh")
  endif()
  add_library(boost_program_options STATIC ${_po_sources})
  target_include_directories(boost_program_options SYSTEM PUBLIC "${KEYHAVEN_BOOST_INCLUDE_DIR}")
  target_compile_definitions(boost_program_options PUBLIC BOOST_BIND_GLOBAL_PLACEHOLDERS BOOST_ALL_NO_LIB)
  if(NOT MSVC)
    target_compile_options(boost_program_options PRIVATE -w)
  endif()
  add_library(Boost::program_options ALIAS boost_program_options)
else()
  find_package(Boost 1.74 REQUIRED COMPONENTS program_options)
endif()

if(KEYHAVEN_BUILD_TESTS)
  if(KEYHAVEN_GTEST_SOURCE_DIR)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory("${KEYHAVEN_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
