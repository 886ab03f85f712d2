# Warnings are errors in the project's own code only.
# g++ 12 reports std::variant and std::string internals as maybe-uninitialized
# or overlapping (restrict) at -O2 and above; those reports are false and
# would break optimised builds only, so they are off. clang (the fuzz build)
# knows neither option.
function(vexil_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized> $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
endfunction()

# vexil_library(<target> [DEPS <targets or libraries>...])
# One library per layout folder: every .cpp/.c below the calling folder.
# The repository root is the include root, so headers are included by their path
# ("Platform/Foundation/Value.h").
function(vexil_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  if(ARG_SOURCES)
    set(srcs ${ARG_SOURCES})
  else()
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  endif()
  add_library(${target} STATIC ${srcs})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  vexil_warnings(${target})
endfunction()

# vexil_test(<target> SOURCES <files>... DEPS <targets>... [LABELS <labels>...])
# GoogleTest binary registered through gtest_discover_tests. Tests run with
# VEXIL_HOME in a scratch folder of their own (cmake/test-env) and
# VEXIL_RESOURCES at the copied bundle and FONTCONFIG_FILE at a configuration
# that knows only the DejaVu fonts (tests/fonts); run by hand, the shared main
# (tests/support) does the same. Labels: "unit" unless given (e.g. "threads"),
# plus the library under test (the first DEPS entry) and the binary's name, so
# `ctest -L Foundation` runs one library's tests. Test names never carry
# parameter values (NO_PRETTY_VALUES): parameterised suites name their cases.
function(vexil_test target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} vexil_test_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  vexil_warnings(${target})
  add_dependencies(${target} vexil_resources)
  set(home ${CMAKE_BINARY_DIR}/test-home/${target})
  if(NOT ARG_LABELS)
    set(ARG_LABELS "unit")
  endif()
  if("threads" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY VEXIL_THREAD_TESTS ${target})
  endif()
  list(GET ARG_DEPS 0 library)
  list(APPEND ARG_LABELS ${library} ${target})
  list(REMOVE_DUPLICATES ARG_LABELS)
  # gtest_discover_tests (CMake 3.25) passes a list-valued property on as
  # separate arguments, so an ENVIRONMENT list would keep only its first entry.
  # The environment is set by `env` as the tests' launcher instead; it is used
  # for the discovery run and for every test.
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR
    "${PROJECT_SOURCE_DIR}/cmake/test-env;${home};${CMAKE_BINARY_DIR}/Resources;${CMAKE_BINARY_DIR}/test-fonts/fonts.conf")
  gtest_discover_tests(${target}
    NO_PRETTY_VALUES
    TEST_LIST ${target}_TESTS
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300)
  # For the same reason the labels, a list, are set by a script ctest reads
  # after the discovered tests.
  set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(WRITE ${labels_script}
    "if(${target}_TESTS)\n"
    "  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
  vexil_whole_test(${target} "${ARG_LABELS}")
endfunction()

# vexil_whole_test(<target> <labels>)
# The binary run whole once, as a person runs it by hand: every test in one
# process, so a test that leans on files or state another left behind fails
# here. Labelled "whole" (so a run can leave these out or take only these),
# the library and the binary. Not "threads" (the ThreadSanitizer run keeps
# to single tests) nor "display": without a server a display binary's tests
# skip, and the display run keeps to single tests too.
# Sanitizer builds run every test alone and leave these repeats out: what they
# check is the tests' isolation, not memory or threads.
function(vexil_whole_test target labels)
  if(VEXIL_SANITIZE)
    return()
  endif()
  set(whole_labels whole)
  foreach(label IN LISTS labels)
    if(NOT label MATCHES "^(unit|threads|display)$")
      list(APPEND whole_labels ${label})
    endif()
  endforeach()
  add_test(NAME ${target}.whole
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/test-env ${CMAKE_BINARY_DIR}/test-home/${target}.whole
      ${CMAKE_BINARY_DIR}/Resources ${CMAKE_BINARY_DIR}/test-fonts/fonts.conf $<TARGET_FILE:${target}>)
  set_tests_properties(${target}.whole PROPERTIES LABELS "${whole_labels}" TIMEOUT 900)
endfunction()
