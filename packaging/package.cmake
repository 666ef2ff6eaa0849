# One Debian package, qorvex, built by CPack from the install rules above (scripts/package). Its runtime
# dependencies are computed from the installed programs and library by dpkg-shlibdeps; what is loaded at run
# time without being linked (Qt's platform plugins) is named by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "qorvex")
set(CPACK_PACKAGE_CONTACT "qorvex maintainers <maintainers@qorvex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CD/DVD disc-image browser and extractor")
set(CPACK_PACKAGE_DESCRIPTION
    "Lists and extracts the files, system structures and tracks of CD and DVD images (ISO 9660, Joliet, UDF; \
2048-, 2324-, 2336-, 2352- and 2448-byte sectors). Contains the engine library libqorvex.so.1 with its \
headers, pkg-config and CMake files, the command-line program qorvex and the desktop program lumast.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The library is in the package itself; its shlibs entry lets other packages depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
if(TARGET lumast)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  # Opening files with other programs goes through xdg-open; the interface is Japanese.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, fonts-noto-cjk, qt6-translations-l10n")
endif()
include(CPack)
