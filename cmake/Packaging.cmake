# The release archive, one ZIP per architecture (Orvel-<version>-win64.zip or -win32.zip): the
# install tree, that is the programs with the runtime DLLs they need, the headers and the import
# library, together with the README and the user guide. Its binaries are stripped.
install(FILES README.md DESTINATION .)
install(FILES docs/guide.md DESTINATION docs)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Orvel)
set(CPACK_PACKAGE_VENDOR "${ORVEL_VENDOR}")
# The archive bears the program's version string, letter included: Orvel-0.3.4d-win64.zip.
set(CPACK_PACKAGE_VERSION ${ORVEL_VERSION})
set(CPACK_STRIP_FILES ON)
include(CPack)
