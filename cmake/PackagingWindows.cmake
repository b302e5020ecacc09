# The Windows packages: "cpack -G NSIS" (an installer) and "cpack -G ZIP" in a build made with
# cmake/mingw-w64.cmake (see docs/windows.md). Included by Packaging.cmake for Windows builds.
#
# The installer installs for every user under Program Files, adds a Start-menu entry and an
# uninstaller that removes what it installed. Its own registry key is named apart from the
# suite's settings (HKCU\Software\KZ\Quillon), which the uninstaller leaves alone.
set(CPACK_GENERATOR NSIS ZIP)
# The packages hold the install tree as is: bin\ with the program, icons\ and resource\.
unset(CPACK_PACKAGING_INSTALL_PREFIX)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quillon Firmware Updater")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Quillon Firmware Updater")
set(CPACK_PACKAGE_EXECUTABLES quillon-fwupdate "Quillon Firmware Updater")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ${QUILLON_INSTALL_APPDIR})
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer for a 64-bit program: it sees the 64-bit Program Files and registry, and
# runs where only 64-bit programs can (a 64-bit-only Wine).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME "Quillon Firmware Updater")
set(CPACK_NSIS_DISPLAY_NAME "Quillon Firmware Updater ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/images/Updater.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/images/Updater.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME ${QUILLON_INSTALL_APPDIR}\\\\quillon-fwupdate.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
# The build keeps its symbols; the packages do not need them.
set(CPACK_STRIP_FILES ON)
