# Installation: programs, desktop entry, icons and manual pages; the Debian package (CPack DEB);
# the install_tree test.
#
#   cmake --install BUILD [--prefix DIR]     install the tree (default prefix /usr/local)
#   cd BUILD && cpack -G DEB                 kalvor-tp_<version>_<arch>.deb, installing under /usr
#
# The icons are committed as rendered PNGs (data/icons), so the build needs no image tools. After
# a change to kalvor-tp.svg, render them again (rsvg-convert is in Debian's librsvg2-bin):
#   for s in 16 32 48 64 128 256; do rsvg-convert -w $s -h $s kalvor-tp.svg -o kalvor-tp-$s.png; done

include(GNUInstallDirs)

set(KALVOR_DATA_DIR ${CMAKE_CURRENT_LIST_DIR}/../data)
get_filename_component(KALVOR_DATA_DIR ${KALVOR_DATA_DIR} ABSOLUTE)

# --- Programs ------------------------------------------------------------------------------------
if(TARGET kalvor-tp)
  install(TARGETS kalvor-tp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The window module, where kalvor-tp looks for it: ../lib/kalvor-tp/ from the program.
if(TARGET kalvor-tp-window)
  install(TARGETS kalvor-tp-window LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}/../lib/kalvor-tp)
endif()
if(TARGET zeda-sim)
  install(TARGETS zeda-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# --- Desktop entry and icons (hicolor theme) -------------------------------------------------------
install(FILES ${KALVOR_DATA_DIR}/kalvor-tp.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 64 128 256)
  install(FILES ${KALVOR_DATA_DIR}/icons/kalvor-tp-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME kalvor-tp.png)
endforeach()
install(FILES ${KALVOR_DATA_DIR}/icons/kalvor-tp.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# --- Manual pages --------------------------------------------------------------------------------
install(FILES ${KALVOR_DATA_DIR}/man/kalvor-tp.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET zeda-sim)
  install(FILES ${KALVOR_DATA_DIR}/man/zeda-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# --- Debian package ------------------------------------------------------------------------------
set(KALVOR_DEB_MAINTAINER "KALVOR TP developers <kalvor-tp@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kalvor-tp")
set(CPACK_PACKAGE_VENDOR "KALVOR TP")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KALVOR_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "service console for ZEDA1000/ZEDA2000 banknote dispenser modules")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)          # kalvor-tp_1.02_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KALVOR_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The extended description (CPack puts the summary above it and indents it).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"kalvor-tp talks to ZEDA1000 and ZEDA2000 banknote dispenser modules over an
RS-232 serial line (COM1 to COM4, mapped to Linux serial devices). It shows the
module's sensors, dispenses and rejects notes, reads and sets the module's
configuration, and runs repeated test dispenses, in a window or headless from
a script. The package also contains zeda-sim, a module simulator that serves a
pseudo-terminal or a serial device, to try the console without hardware.")

find_program(KALVOR_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(KALVOR_DPKG_SHLIBDEPS)
if(KALVOR_DPKG_SHLIBDEPS)
  # Runtime dependencies from the libraries the programs link (Qt 6, libc, libstdc++, ...).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  if(KALVOR_WITH_QT)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6charts6, libqt6widgets6, libqt6gui6, libqt6core6, libc6, libstdc++6")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
  endif()
endif()

include(CPack)

# --- Test: install into a temporary prefix and check the tree ----------------------------------
if(KALVOR_TESTS)
  add_test(NAME install_tree
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/../tests/install/check_install.sh
                   ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_COMMAND})
  set_tests_properties(install_tree PROPERTIES TIMEOUT 120)
endif()
