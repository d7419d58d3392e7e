# Debian packages through CPack (cpack -G DEB in the build tree), one per
# install component:
#
#   runtime  libnorva0       the shared library
#   dev      libnorva-dev    header, namelink, pkg-config file, CMake package, norva(3)
#   tools    norva-tools     the norva command, norva(1)
#   python   python3-norva   the Python package (Architecture: all; it loads
#                            libnorva.so.0 through the system's loader)
#
# The packages install below /usr, so the build must be configured with
# -DCMAKE_INSTALL_PREFIX=/usr (GNUInstallDirs then puts the library into the
# multiarch directory lib/<triplet>); cross builds also need
# -DCMAKE_INSTALL_LIBDIR=lib/<triplet>, which GNUInstallDirs does not choose
# when cross-compiling.  cpack refuses any other layout.
#
#   NORVA_DEB_MAINTAINER   the Maintainer field
#   NORVA_DEB_REVISION     the Debian revision (version 0.7.0-<revision>)

set(NORVA_DEB_MAINTAINER "norva maintainers <maintainers@users.noreply.c-seed-ec83fa2a.example>"
    CACHE STRING "Maintainer field of the Debian packages")
set(NORVA_DEB_REVISION 1 CACHE STRING "Debian revision of the packages")
set(norva_deb_version ${PROJECT_VERSION}-${NORVA_DEB_REVISION})

# The Debian architecture of the target.
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(norva_deb_arch arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64)$")
    set(norva_deb_arch amd64)
  else()
    set(norva_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()
else()
  find_program(NORVA_DPKG dpkg)
  if(NORVA_DPKG)
    execute_process(COMMAND ${NORVA_DPKG} --print-architecture OUTPUT_VARIABLE norva_deb_arch
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
endif()

# The layout the packages need: prefix /usr, library in lib/<triplet>.
set(norva_deb_layout_ok OFF)
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$" AND CMAKE_LIBRARY_ARCHITECTURE
   AND CMAKE_INSTALL_LIBDIR STREQUAL "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
  set(norva_deb_layout_ok ON)
endif()

# Files every package carries in /usr/share/doc/<package>: the copyright
# notice and the Debian changelog (gzip -9n: the same bytes on every
# architecture, as Multi-Arch: same requires).  Installed only by component
# installs (cpack), not by a plain cmake --install.
set(norva_deb_date "Wed, 09 Dec 2026 00:00:00 +0000")
set(norva_deb_dir ${PROJECT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${norva_deb_dir})
file(WRITE ${norva_deb_dir}/copyright
"norva ${PROJECT_VERSION}: verified linear algebra in IEEE 754 double precision.

Copyright (C) 2026 the norva developers.  All rights reserved.

No license to copy, modify or redistribute this software has been granted
yet; the packages are built for the project's own machines and users.
")
file(WRITE ${norva_deb_dir}/changelog.Debian
"norva (${norva_deb_version}) unstable; urgency=medium

  * Debian packages of norva ${PROJECT_VERSION}: libnorva0, libnorva-dev,
    norva-tools and python3-norva, built by CPack.

 -- ${NORVA_DEB_MAINTAINER}  ${norva_deb_date}
")
find_program(NORVA_GZIP gzip)
if(NORVA_GZIP)
  execute_process(COMMAND ${NORVA_GZIP} -9nc ${norva_deb_dir}/changelog.Debian
                  OUTPUT_FILE ${norva_deb_dir}/changelog.Debian.gz)
endif()

# A build without the tool or the Python package makes no package of them.
set(norva_deb_components runtime dev)
if(NORVA_BUILD_TOOLS)
  list(APPEND norva_deb_components tools)
endif()
if(NORVA_BUILD_PYTHON)
  list(APPEND norva_deb_components python)
endif()
set(norva_deb_name_runtime libnorva0)
set(norva_deb_name_dev libnorva-dev)
set(norva_deb_name_tools norva-tools)
set(norva_deb_name_python python3-norva)
foreach(comp ${norva_deb_components})
  install(FILES ${norva_deb_dir}/copyright ${norva_deb_dir}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${norva_deb_name_${comp}}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          COMPONENT ${comp} EXCLUDE_FROM_ALL)
endforeach()

# The Python package: byte-compiled when installed and cleaned when removed,
# as Debian's Python packages are (py3compile and py3clean of python3-minimal).
file(WRITE ${norva_deb_dir}/python/postinst
"#!/bin/sh
set -e
if [ \"$1\" = configure ] && command -v py3compile >/dev/null 2>&1; then
  py3compile -p python3-norva
fi
")
file(WRITE ${norva_deb_dir}/python/prerm
"#!/bin/sh
set -e
if command -v py3clean >/dev/null 2>&1; then
  py3clean -p python3-norva
fi
")
# The shared library: the loader cache is refreshed by dpkg's ldconfig
# trigger, not by maintainer scripts.
file(WRITE ${norva_deb_dir}/runtime/triggers "activate-noawait ldconfig\n")
file(CHMOD ${norva_deb_dir}/python/postinst ${norva_deb_dir}/python/prerm
     PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
     WORLD_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norva)
set(CPACK_PACKAGE_VENDOR "the norva developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${NORVA_DEB_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${norva_deb_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${NORVA_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${NORVA_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
if(norva_deb_arch)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${norva_deb_arch})
endif()

foreach(comp ${norva_deb_components})
  string(TOUPPER ${comp} COMP)
  set(CPACK_DEBIAN_${COMP}_PACKAGE_NAME ${norva_deb_name_${comp}})
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)

set(norva_deb_about "norva proves its results: every answer is an interval enclosure
computed with directed rounding and exact dot products, or a status that says
why no proof was found.")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
"verified linear algebra in double precision - shared library
${norva_deb_about}
.
This package contains the shared library libnorva.so.0: verified solutions of
dense, band and sparse linear systems, positive definite and least-squares
problems, interval systems and symmetric eigenvalues, through a plain C
interface.")
set(CPACK_DEBIAN_DEV_DESCRIPTION
"verified linear algebra in double precision - development files
${norva_deb_about}
.
This package contains the C header norva.h, the pkg-config file, the CMake
package (find_package(norva)) and the manual page norva(3).")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
"verified linear algebra in double precision - command-line tool
${norva_deb_about}
.
This package contains the norva command: exact sums, verified solutions of
systems read from Matrix Market files, and demonstrations (norva demo).")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
"verified linear algebra in double precision - Python 3 module
${norva_deb_about}
.
This package contains the Python 3 module norva, which calls the shared
library through ctypes and takes and returns NumPy arrays.")

# Dependencies.  libnorva0 and norva-tools: from the shared libraries their
# binaries need (dpkg-shlibdeps natively).  In a cross build dpkg-shlibdeps
# cannot map the toolchain's target libraries (/usr/<triplet>) to packages,
# so they are named here, with the lowest versions the native build's
# dpkg-shlibdeps derives for the same binaries on Debian 12.
set(CPACK_NORVA_MULTIARCH "libnorva0=same;libnorva-dev=same;norva-tools=foreign")
set(CPACK_NORVA_LDCONFIG_TRIGGER libnorva0)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/packaging-fixup.cmake)
# The shlibs file of libnorva0 (only it has a shared library).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${norva_deb_dir}/runtime/triggers)
if(CMAKE_CROSSCOMPILING)
  set(norva_deb_cross_depends
      "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libgomp1 (>= 6), libstdc++6 (>= 11)")
  if(NORVA_WITH_CHOLMOD)
    string(APPEND norva_deb_cross_depends ", libcholmod3 (>= 1:5.12.0)")
  endif()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ${norva_deb_cross_depends})
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS ${norva_deb_cross_depends})
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libnorva0 (= ${norva_deb_version})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3, python3-numpy, libnorva0 (= ${norva_deb_version})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
    "${norva_deb_dir}/python/postinst;${norva_deb_dir}/python/prerm")

# cpack checks the layout before it builds anything.
set(CPACK_NORVA_LAYOUT_OK ${norva_deb_layout_ok})
set(CPACK_NORVA_LAYOUT "prefix ${CMAKE_INSTALL_PREFIX}, libdir ${CMAKE_INSTALL_LIBDIR}")
set(CPACK_NORVA_TRIPLET "${CMAKE_LIBRARY_ARCHITECTURE}")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/packaging-check.cmake)
if(NOT norva_deb_layout_ok)
  message(STATUS "Debian packages: not possible with prefix ${CMAKE_INSTALL_PREFIX} and libdir "
                 "${CMAKE_INSTALL_LIBDIR} (need /usr and lib/${CMAKE_LIBRARY_ARCHITECTURE})")
endif()

include(CPack)
