# vigil_library(name [DEPS ...]): a static library of every .cpp in the calling folder.
function(vigil_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${_srcs})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# vigil_test_folder(name [DEPS ...] [LABELS ...] [RESOURCE_LOCK lock]): one GoogleTest program of
# every .cpp in the calling folder; each test case is registered with CTest on its own.
function(vigil_test_folder name)
  cmake_parse_arguments(ARG "" "RESOURCE_LOCK" "DEPS;LABELS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  set(_props LABELS "${ARG_LABELS}" TIMEOUT 300)
  if(ARG_RESOURCE_LOCK)
    list(APPEND _props RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  # gtest_discover_tests flattens property values, so a list value must come last: its
  # second entry (VIGIL_SOURCE_DIR) does not arrive, but it no longer swallows the
  # properties after it.
  list(APPEND _props ENVIRONMENT "VIGIL_BUILD_DIR=${CMAKE_BINARY_DIR};VIGIL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${_props})
endfunction()

# vigil_fuzz_target(file DEPS ...): a libFuzzer program from one source file.
function(vigil_fuzz_target src)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  get_filename_component(_name ${src} NAME_WE)
  add_executable(${_name} ${src})
  target_link_options(${_name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${_name} PRIVATE ${ARG_DEPS})
endfunction()
