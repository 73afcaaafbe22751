find_package(GTest REQUIRED)
include(GoogleTest)
file(REMOVE "${PROJECT_BINARY_DIR}/tests-left-out.txt")
# Paths of programs as a test program sees them: a Windows program under Wine reaches the Linux file system
# through drive Z:.
if(WIN32 AND CMAKE_HOST_UNIX)
  set(ZORVIK_TEST_PATH_PREFIX "Z:")
else()
  set(ZORVIK_TEST_PATH_PREFIX "")
endif()

# zorvik_test_needs(<test> <targets...>)
# Records what a test runs besides its own program, for zorvik_add_test to pick up when it registers that
# test from a folder; a table of these calls keeps each test's needs on one line.
function(zorvik_test_needs test)
  set_property(GLOBAL PROPERTY "ZORVIK_TEST_NEEDS_${test}" ${ARGN})
endfunction()

# zorvik_test_left_out(<test> <reason>)
# Leaves a test out of this build with the reason why it cannot apply here (a test of POSIX signals in the
# Windows build). The reasons go to tests-left-out.txt in the build folder, which the Wine stage reports.
function(zorvik_test_left_out test reason)
  set_property(GLOBAL PROPERTY "ZORVIK_TEST_LEFT_OUT_${test}" "${reason}")
  file(APPEND "${PROJECT_BINARY_DIR}/tests-left-out.txt" "${test}: ${reason}\n")
endfunction()

# zorvik_add_test(<source.cpp> LIBS <targets...> [LABEL l] [NEEDS <targets...>] [ENVIRONMENT VAR=value...])
# Builds one GoogleTest file into its own executable and registers its tests with CTest. Each target in
# NEEDS (and in the test's zorvik_test_needs entry) is built before the test; an executable among them is
# handed to the test as the macro ZORVIK_<NAME>_PATH, its name without "zorvik-" in upper case
# (zorvik-cli: ZORVIK_CLI_PATH).
function(zorvik_add_test source)
  cmake_parse_arguments(ARG "" "LABEL" "LIBS;NEEDS;ENVIRONMENT" ${ARGN})
  get_filename_component(name "${source}" NAME_WE)
  get_property(left_out GLOBAL PROPERTY "ZORVIK_TEST_LEFT_OUT_${name}")
  if(left_out)
    return()
  endif()
  add_executable(${name} "${source}")
  # The test catalogues are an object library: linked directly so that their registration is kept.
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zorvik_test_support zorvik_test_resources GTest::gtest
                                        GTest::gmock GTest::gtest_main zorvik_options)

  get_property(table_needs GLOBAL PROPERTY "ZORVIK_TEST_NEEDS_${name}")
  foreach(need IN LISTS ARG_NEEDS table_needs)
    if(NOT TARGET ${need})
      message(FATAL_ERROR "${name} needs ${need}, which this build does not make")
    endif()
    add_dependencies(${name} ${need})
    get_target_property(need_type ${need} TYPE)
    if(need_type STREQUAL "EXECUTABLE")
      string(REGEX REPLACE "^zorvik-" "" macro "${need}")
      string(TOUPPER "ZORVIK_${macro}_PATH" macro)
      string(MAKE_C_IDENTIFIER "${macro}" macro)
      target_compile_definitions(${name} PRIVATE ${macro}="${ZORVIK_TEST_PATH_PREFIX}$<TARGET_FILE:${need}>")
    endif()
  endforeach()

  set(label unit)
  if(ARG_LABEL)
    set(label ${ARG_LABEL})
  endif()
  set(properties LABELS ${label})
  # zorvik_tests_<label> builds the test programs of one label and what they run, so that a build can make
  # only the tests it runs (the ThreadSanitizer build of scripts/test: unit and integration).
  if(NOT TARGET zorvik_tests_${label})
    add_custom_target(zorvik_tests_${label})
  endif()
  add_dependencies(zorvik_tests_${label} ${name})
  if(ARG_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(CMAKE_CROSSCOMPILING)
    # A cross-built test program runs whole, once, through CMAKE_CROSSCOMPILING_EMULATOR (Wine): starting
    # it once per test would cost a second each.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ${properties})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES ${properties})
  endif()
endfunction()

# zorvik_add_tests_in(<folder> LIBS <targets...> [LABEL l] [NEEDS ...] [ENVIRONMENT ...]): every *Test.cpp
# of a folder, and the *Test_posix.cpp or *Test_win32.cpp of this system.
function(zorvik_add_tests_in folder)
  file(GLOB sources CONFIGURE_DEPENDS "${folder}/*Test.cpp" "${folder}/*Test_posix.cpp"
       "${folder}/*Test_win32.cpp")
  list(FILTER sources EXCLUDE REGEX "${ZORVIK_OTHER_OS_SOURCES}")
  foreach(source IN LISTS sources)
    zorvik_add_test("${source}" ${ARGN})
  endforeach()
endfunction()
