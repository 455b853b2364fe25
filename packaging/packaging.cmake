# Installation into /usr and the Debian package made by `cpack` in the build
# folder: velmar, vlmpack, tamarind when it is built, the manual when it is
# built (its own install rules), icons and desktop files.
#
# Installed programs keep their files in the XDG home folder
# (~/.local/share/velmar): /usr/bin holds neither Script/ nor Config.ini.
include(GNUInstallDirs)

# velmar and the manual have their install rules beside their targets.
install(TARGETS vlmpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/velmar.svg
              ${CMAKE_SOURCE_DIR}/packaging/icons/vlmpack.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vlmpack.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The examples and their site; `velmar run NAME` finds an example here when
# the home folder has no script of that name.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/Script
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmar/examples)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/site/www
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmar/examples/site)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/site/serve.py
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmar/examples/site)
if(TARGET tamarind)
  install(TARGETS tamarind RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/tamarind.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/tamarind.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()

# What every Debian package carries in its documentation folder: the
# copyright and, for a native package, a compressed changelog.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmar)
# Templates for unattended runs on servers: systemd units, Kubernetes
# objects, the container recipe with its install steps.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/velmar@.service
        ${CMAKE_SOURCE_DIR}/packaging/systemd/velmar@.timer
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmar/systemd)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kubernetes/velmar-job.yaml
        ${CMAKE_SOURCE_DIR}/packaging/kubernetes/velmar-cronjob.yaml
        ${CMAKE_SOURCE_DIR}/packaging/kubernetes/velmar-config.yaml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmar/kubernetes)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/container/Containerfile
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmar/container)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/container/install.sh
        DESTINATION ${CMAKE_INSTALL_DATADIR}/velmar/container)
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/changelog
  "velmar (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- Velmar maintainers <maintainers@velmar.org>  ${changelog_date}\n")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(velmar_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmar)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmar")
set(CPACK_PACKAGE_CONTACT "Velmar maintainers <maintainers@velmar.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "automate work on the web with .vlm scripts")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
  "Velmar runs small line-oriented .vlm scripts that fetch pages over HTTP and
HTTPS, post forms, keep cookies, cut values out of pages with regular
expressions, store data in MySQL/MariaDB and ODBC databases, call native
libraries and evaluate JavaScript. The package holds the command-line runner
velmar, the packed runner vlmpack and, when built, the manager tamarind.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmar.org/")
# The libraries the programs link (Qt 6 and WebEngine, OpenSSL, the MariaDB
# client, unixODBC, libffi) come from dpkg-shlibdeps; Duktape is compiled
# in. The ODBC drivers are loaded by name at run time, so they are named here:
# MDB Tools for Access files, SQLite for other database files, FreeTDS for
# SQL Server.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# tar, which `velmar pack --archive` runs, is essential and needs no entry.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "odbc-mdbtools, libsqliteodbc, tdsodbc")
if(TARGET tamarind OR TARGET velmar_ui)
  # The desktop programs' platform plugin and the WebEngine helper process,
  # and a font with the Chinese glyphs of the interface's labels: a minimal
  # desktop has none, and every label would show as boxes.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins, libqt6webenginecore6-bin"
         ", fonts-noto-cjk | fonts-wqy-microhei | fonts-droid-fallback")
endif()
# The example site is a small Python program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3")
include(CPack)

# The VS Code extension (.vsix): the TextMate grammar, the language client of
# `velmar lsp` and the debug adapter `velmar debug`, packaged with vsce.
set(VELMAR_VSIX ${CMAKE_BINARY_DIR}/velmar.vsix)
add_custom_target(velmar_vsix ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR}/packaging/vscode
    -DGRAMMAR=${VELMAR_SYNTAX_DIR}/velmar.tmLanguage.json -DSTAGE=${CMAKE_BINARY_DIR}/vscode-extension
    -DOUTPUT=${VELMAR_VSIX} -P ${CMAKE_SOURCE_DIR}/packaging/vscode/make_vsix.cmake
  DEPENDS velmar_syntax
  COMMENT "Packaging the VS Code extension")
