# The Debian package, made by `cpack -G DEB` in the build folder: what
# `cmake --install` puts under a prefix (the executable, the man page, the
# static libraries with their headers and CMake package), installed under
# /usr, with a sample settings file and a note in /usr/share/doc/zorvexrun.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/zorvex
              ${PROJECT_SOURCE_DIR}/packaging/debian/README.Debian
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvexrun)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zorvexrun developers")
set(CPACK_PACKAGE_CONTACT "zorvexrun developers <zorvexrun@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "one-shot batch FTP transfer tool and FTP session library")
set(CPACK_PACKAGE_DESCRIPTION
    "zorvexrun uploads or downloads one file per run with settings read from a file beside the executable, writes a one-line run log, and reports every failure on standard error and in its exit status. Plain FTP and FTP over TLS. The package also holds the static FTP session library, its headers and its CMake package.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C++ runtime is linked in; the C library and OpenSSL are what remains,
# found by dpkg-shlibdeps from the executable.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
