find_package(GTest REQUIRED)
include(GoogleTest)

# zorvik_add_test(<source.cpp> LIBS <targets...> [LABEL l] [ENVIRONMENT VAR=value...])
# Builds one GoogleTest file into its own executable and registers its tests with CTest.
function(zorvik_add_test source)
  cmake_parse_arguments(ARG "" "LABEL" "LIBS;ENVIRONMENT" ${ARGN})
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zorvik_test_support GTest::gtest GTest::gmock
                                        GTest::gtest_main zorvik_options)
  set(label unit)
  if(ARG_LABEL)
    set(label ${ARG_LABEL})
  endif()
  set(properties LABELS ${label})
  if(ARG_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES ${properties})
endfunction()

# zorvik_add_tests_in(<folder> LIBS <targets...> [LABEL l]): every *Test.cpp of a folder.
function(zorvik_add_tests_in folder)
  file(GLOB sources CONFIGURE_DEPENDS "${folder}/*Test.cpp")
  foreach(source IN LISTS sources)
    zorvik_add_test("${source}" ${ARGN})
  endforeach()
endfunction()
