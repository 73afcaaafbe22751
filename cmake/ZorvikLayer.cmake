# zorvik_layer(<target> <folder> [LIBS <targets...>] [EXCLUDE <regex...>])
# A static library made of every .cpp in a folder (an INTERFACE library while the folder has none),
# so new files need no edit here. Sources for one operating system end in _posix.cpp or _win32.cpp; only
# this system's are taken. EXCLUDE leaves out the files whose path matches, such as the sources of one
# windowing system, which the caller adds with target_sources under its condition.
function(zorvik_layer target folder)
  cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${folder}/*.cpp")
  list(FILTER sources EXCLUDE REGEX "${ZORVIK_OTHER_OS_SOURCES}")
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${target} PUBLIC ${ARG_LIBS} PRIVATE zorvik_options)
    target_compile_features(${target} PUBLIC cxx_std_20)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${target} INTERFACE ${ARG_LIBS})
  endif()
endfunction()
