# Read by cpack (CPACK_PROJECT_CONFIG_FILE, cmake/packaging.cmake): Debian
# packages of a build whose files would not land in /usr and the multiarch
# library directory are refused rather than built wrong.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_NORVA_LAYOUT_OK)
  message(FATAL_ERROR
    "norva: the Debian packages need the build configured with -DCMAKE_INSTALL_PREFIX=/usr and "
    "-DCMAKE_INSTALL_LIBDIR=lib/${CPACK_NORVA_TRIPLET}; this build has ${CPACK_NORVA_LAYOUT}")
endif()
