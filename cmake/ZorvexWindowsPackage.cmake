# The Windows zip, made by `cpack` in the build folder: zorvexrun.exe, a
# sample settings file `zorvex` and a short text on how to use them, side by
# side in one folder, since the program looks for its settings beside itself.
# Only `cpack` installs them (component "zip"); `cmake --install` installs
# the usual layout.
install(TARGETS zorvexrun RUNTIME DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/zorvex
              ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
        DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zorvexrun)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME zorvexrun-${PROJECT_VERSION}-win64)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL zip)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
# One folder in the zip, which the user may move as a whole.
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
