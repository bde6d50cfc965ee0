# `make package`: a Debian binary package of what the install() rules put under /usr
# (the three programs, their manual pages, the desktop entry and the icons), built by
# CPack from the default build tree. The version is project(VERSION), as everywhere.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vyx-utility)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VYX Project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up and test a serial customer display")
set(CPACK_PACKAGE_DESCRIPTION
  "VYX Utility sets up a serial customer display of 2 lines of 20 characters:
its baud rate, command set, default font set and language, two lines of text,
the cell test pattern and the display's information. It comes as a dialog
window (VYX_Utility), as a command-line tool for shells and scripts (vyxctl)
and with a display simulator on a pseudo-terminal (vyx-display-sim) for trying
both without the hardware.")
set(VYX_PACKAGE_MAINTAINER "VYX Project <vyx-utility@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VYX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies are what dpkg-shlibdeps finds in the programs, so they follow the
# libraries the build really linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Stripping, compressed manual pages and the package's copyright and changelog are
# Debian's conventions, not the install's: they are done in the staging tree, so that
# `make install` still gives a debuggable build.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianTree.cmake)
set(CPACK_VYX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_VYX_STRIP ${CMAKE_STRIP})
include(CPack)
