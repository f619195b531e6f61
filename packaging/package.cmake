# The Debian package: `tools/make-deb.sh` (or `cpack -G DEB` in a build
# folder) packs what `cmake --install` installs. Its dependencies are read
# from the shared libraries the binaries link (dpkg-shlibdeps), so they
# follow the Qt and QScintilla the build found.
include(GNUInstallDirs)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/org.tarvex.tarvex.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VENDOR "Tarvex")
set(CPACK_PACKAGE_CONTACT "Tarvex developers <tarvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write, link and run webs of named cells")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvex keeps notes and calculations as a web of named cells, each with a
text, a value and a script. Cell names in texts are links; scripts call one
another by name, read and write files and plot two cells while they run. The
package holds the desktop application and the headless runner tarvex-run.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
