# The Debian package: "cpack -G DEB" in the build folder (see docs/linux.md). Installed under
# /usr, with the dependencies read from the program's libraries by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME quillon-fwupdate)
set(CPACK_PACKAGE_VENDOR "KZ")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for Zenta calculators")
# The lines of the long description stay within Debian's 80 columns once indented.
set(CPACK_PACKAGE_DESCRIPTION
    "The firmware updater of the Quillon desktop suite writes a firmware update
onto every Zenta calculator plugged in by USB in update mode, and shows the
update in the user's language. A udev rule lets the user at the seat write to
calculator disks, and no other disk, without root.

kzres, the suite's resource compiler, turns a translator's texts into the
files the updater reads them from.")
set(CPACK_PACKAGE_CONTACT "Quillon maintainers <quillon@kz.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The same permissions whatever the umask of the machine that builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The build keeps its debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)
# udev applies the rule; without it the program runs but needs root for the disks. Qt's own
# translations put the folder browser into the window's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, qttranslations5-l10n")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kz.example/quillon")
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
endif()
include(CPack)
