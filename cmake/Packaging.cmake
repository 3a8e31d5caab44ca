# The Debian package: `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr (the
# release preset) makes vellum_<version>_amd64.deb. Its dependencies come from dpkg-shlibdeps;
# installing it registers the library for every user (/etc/xdg/vellum/registry.ini), removing
# it unregisters, purging deletes the system registry.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vellum maintainers <maintainers@vellum.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file signing library, verification desk and command")
set(CPACK_PACKAGE_DESCRIPTION
    "libvellum signs, verifies, encrypts and packs files through a binary object interface;\n\
moravel-verify is the verification desk and vellum the command line. Headers, pkg-config\n\
and CMake files for callers in C and C++ are included.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# xdg-open opens restored files (the library's StartDoc); the desk's files need the MIME and
# desktop databases, which dpkg's triggers update.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, shared-mime-info, desktop-file-utils")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
foreach(script postinst prerm postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in
                 ${PROJECT_BINARY_DIR}/packaging/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
