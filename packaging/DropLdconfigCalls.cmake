# CPack post-build script: takes the ldconfig calls out of the Debian package CPack made.
#
# CPack adds a postinst and a postrm that run ldconfig whenever a shared object lies below /usr/lib. Ours,
# /usr/lib/zorvik/libzspWin.so, is a module the programs open by its path, not a library the dynamic
# loader's cache knows, so the calls do nothing but earn lintian's maintscript-calls-ldconfig. Scripts that
# do anything besides calling ldconfig are left as they are.
find_program(ZORVIK_DPKG_DEB dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/without-ldconfig")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND "${ZORVIK_DPKG_DEB}" --raw-extract "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  set(dropped FALSE)
  foreach(script postinst postrm)
    set(file "${tree}/DEBIAN/${script}")
    if(NOT EXISTS "${file}")
      continue()
    endif()
    file(READ "${file}" body)
    # What is left once the shell line, "set -e", the if around the call and the call itself are gone.
    string(REGEX REPLACE "#![^\n]*\n|set -e\n|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then\n|[ \t]*ldconfig\n|fi\n" ""
                         rest "${body}")
    string(STRIP "${rest}" rest)
    if(rest STREQUAL "" AND body MATCHES "ldconfig")
      file(REMOVE "${file}")
      set(dropped TRUE)
    endif()
  endforeach()
  if(dropped)
    execute_process(COMMAND "${ZORVIK_DPKG_DEB}" --root-owner-group --build "${tree}" "${package}"
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
