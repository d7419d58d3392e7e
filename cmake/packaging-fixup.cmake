# Run by cpack after the Debian packages are built (CPACK_POST_BUILD_SCRIPTS,
# cmake/packaging.cmake), for what CPack 3.25 cannot say itself:
#   - the Multi-Arch field: CPACK_NORVA_MULTIARCH lists package=value;
#   - the shared library's cache refresh: CPack writes postinst and postrm
#     scripts that run ldconfig; the packages in CPACK_NORVA_LDCONFIG_TRIGGER
#     have dpkg's ldconfig trigger instead, and those scripts are dropped
#     when ldconfig is all they do.
# Each such package is unpacked, changed, and packed again.
find_program(NORVA_DPKG_DEB dpkg-deb REQUIRED)

# Whether the maintainer script only runs ldconfig (CPack's own).
function(norva_only_ldconfig script out)
  file(STRINGS ${script} lines)
  set(only TRUE)
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^(#!/bin/sh|[ \t]*|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|[ \t]*ldconfig|fi)$")
      set(only FALSE)
    endif()
  endforeach()
  set(${out} ${only} PARENT_SCOPE)
endfunction()

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  execute_process(COMMAND ${NORVA_DPKG_DEB} -f ${deb} Package OUTPUT_VARIABLE pkg
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(multiarch "")
  foreach(entry IN LISTS CPACK_NORVA_MULTIARCH)
    if(entry MATCHES "^${pkg}=(.+)$")
      set(multiarch ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(FIND CPACK_NORVA_LDCONFIG_TRIGGER ${pkg} trigger)
  if(NOT multiarch AND trigger EQUAL -1)
    continue()
  endif()

  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${NORVA_DPKG_DEB} -R ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  if(multiarch)
    file(READ ${tree}/DEBIAN/control control)
    if(NOT control MATCHES "\nMulti-Arch:")
      string(REGEX REPLACE "\n+$" "" control "${control}")
      file(WRITE ${tree}/DEBIAN/control "${control}\nMulti-Arch: ${multiarch}\n")
    endif()
  endif()
  if(NOT trigger EQUAL -1)
    if(NOT EXISTS ${tree}/DEBIAN/triggers)
      message(FATAL_ERROR "norva: ${pkg} has no triggers file for ldconfig")
    endif()
    foreach(script postinst postrm)
      if(EXISTS ${tree}/DEBIAN/${script})
        norva_only_ldconfig(${tree}/DEBIAN/${script} only)
        if(only)
          file(REMOVE ${tree}/DEBIAN/${script})
        endif()
      endif()
    endforeach()
  endif()
  execute_process(COMMAND ${NORVA_DPKG_DEB} --root-owner-group -Zxz -b ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
