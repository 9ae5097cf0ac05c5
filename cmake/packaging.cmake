# The Debian package: cpack -G DEB in the build folder makes
# kepsift_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME kepsift)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KEPSIFT maintainers <maintainers@kepsift.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pick orbital element sets out of any text")
set(CPACK_PACKAGE_DESCRIPTION
    "kepsift is a filter that reads text in which orbital element sets in the
two-line layout stand among anything else - mail, web pages, logs, old
archives - and writes every valid set it finds in one clean three-line
form. Each line is checked column by column and by its check digit;
quoted, indented and CR-LF sets are found, and bare two-line pairs are
kept whole.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian ships manuals compressed.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress-manual.cmake)
include(CPack)
