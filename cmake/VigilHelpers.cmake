# Include roots. Headers are included by their path from the top of the tree ("core/scp/scp.h"),
# but no target sees the whole tree: each library gets a root of its own in the build tree that
# holds one link, named like the library's folder, to that folder. A target therefore finds the
# headers of the libraries it links and of no others, so a layer that includes a header of a
# layer above it (or of a sibling it does not declare) fails to build.
function(vigil_include_root target folder)
  set(_root ${CMAKE_BINARY_DIR}/include/${target})
  set(_link ${_root}/${folder})
  get_filename_component(_parent ${_link} DIRECTORY)
  file(MAKE_DIRECTORY ${_parent})
  if(NOT IS_SYMLINK ${_link})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${_link} SYMBOLIC)
  endif()
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${_root})
  else()
    target_include_directories(${target} PUBLIC ${_root})
  endif()
endfunction()

# The folder of the calling CMakeLists.txt, relative to the top of the tree.
macro(vigil_current_folder var)
  file(RELATIVE_PATH ${var} ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
endmacro()

# vigil_private_shared_library(target COMPONENT component): builds a shared library of the suite
# where it is installed, relative to the top (its siblings are in its own folder, found through
# its run path), and installs it into the component's package. Its name carries the release
# (libplatform.so.4.1.5, also as its SONAME, which the programs and the other libraries record):
# the libraries of two releases change their interfaces between them, and the loader then refuses
# a program that meets the libraries of another release, before any of their code runs, where a
# mix would crash. The unversioned name is a link for the build's own linking only, not packaged.
function(vigil_private_shared_library target)
  cmake_parse_arguments(ARG "" "COMPONENT" "" ${ARGN})
  set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${VIGIL_LIBDIR}
                                             BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN"
                                             VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION})
  install(TARGETS ${target} LIBRARY DESTINATION ${VIGIL_LIBDIR} COMPONENT ${ARG_COMPONENT} NAMELINK_SKIP)
endfunction()

# vigil_library(name [SHARED] [DEPS ...] [PRIVATE_DEPS ...]): a library of every .cpp in the
# calling folder, with the folder as its include root. Static unless SHARED; every library is
# position-independent (the top level sets it), so any of them may go into a shared library.
function(vigil_library name)
  cmake_parse_arguments(ARG "SHARED" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER _srcs EXCLUDE REGEX ".*_main\\.cpp$")
  if(ARG_SHARED)
    add_library(${name} SHARED ${_srcs})
    vigil_private_shared_library(${name} COMPONENT runtime)
  else()
    add_library(${name} STATIC ${_srcs})
  endif()
  vigil_current_folder(_folder)
  vigil_include_root(${name} ${_folder})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(ARG_PRIVATE_DEPS)
    target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_DEPS})
  endif()
endfunction()

# vigil_install_program(target DESTINATION dir [COMPONENT component]): installs a program of the
# package in dir (relative to the prefix, such as ${CMAKE_INSTALL_BINDIR}). Its run path finds
# the suite's libraries from where the program is, so the program must lie as far from the top
# of the build tree as dir lies from the prefix: then the one run path serves both.
function(vigil_install_program target)
  cmake_parse_arguments(ARG "" "DESTINATION;COMPONENT" "" ${ARGN})
  if(NOT ARG_COMPONENT)
    set(ARG_COMPONENT runtime)
  endif()
  get_target_property(_built ${target} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT _built)
    set(_built ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  file(RELATIVE_PATH _from_build ${_built} ${CMAKE_BINARY_DIR}/${VIGIL_LIBDIR})
  file(RELATIVE_PATH _from_install /${ARG_DESTINATION} /${VIGIL_LIBDIR})
  if(NOT _from_build STREQUAL _from_install)
    message(FATAL_ERROR "${target} is built in ${_built}, which lies other than ${ARG_DESTINATION} "
                        "from ${VIGIL_LIBDIR}: its run path would not serve both")
  endif()
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN/${_from_install}")
  install(TARGETS ${target} RUNTIME DESTINATION ${ARG_DESTINATION} COMPONENT ${ARG_COMPONENT})
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
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} testsupport GTest::gtest GTest::gmock GTest::gtest_main
                                        Threads::Threads)
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
