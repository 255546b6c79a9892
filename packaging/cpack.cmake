# `make package`: one Debian package with the programs, the library, its
# headers and the files that find it. The shared libraries the binaries link
# become Depends through dpkg-shlibdeps, so the list follows the build.
set(DNC_PACKAGE_MAINTAINER "dncpanel developers <dncpanel@localhost>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dncpanel)
set(CPACK_PACKAGE_CONTACT "${DNC_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "transfer NC programs between a PC and CNC controllers")
set(CPACK_PACKAGE_DESCRIPTION
"dncpanel manages the program storage of CNC controllers reached over a serial
line or UDP: browse their directories, read, write and delete NC programs,
create and delete directories, search device IDs, and stream a program to a
controller while it machines (DNC).

The package holds the window dncpanel, the command-line client dncctl, the
simulated controller ncsim, and the shared library libfilelink with its
headers, pkg-config file and CMake package for host programs.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs entry, so packages built against libfilelink.so.1 depend on this one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg refreshes the linker cache for libfilelink.so.1 through this trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/deb/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
if(TARGET dncpanel)
  # Qt loads its platform plugin at run time, so no linked library names it;
  # without one the window cannot open.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  # The window's Chinese captions show as empty boxes without a CJK font.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
endif()

include(CPack)
