# Installation: programs, desktop entry, icons, manual pages (gzip-compressed), copyright and
# changelog; the Debian package (CPack DEB); the install_tree and readme_options tests.
#
#   cmake --install BUILD [--prefix DIR]     install the tree (default prefix /usr/local)
#   scripts/package.sh                       kalvor-tp_<version>_<arch>.deb with Debian's hardening
#                                            flags, checked by lintian (cpack -G DEB underneath)
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
# A stripped install (the package) also drops the compiler's .comment notes.
find_program(KALVOR_OBJCOPY NAMES objcopy)
mark_as_advanced(KALVOR_OBJCOPY)
if(KALVOR_OBJCOPY)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(f ${CMAKE_INSTALL_BINDIR}/kalvor-tp ${CMAKE_INSTALL_BINDIR}/zeda-sim lib/kalvor-tp/kalvor-tp-window.so)
        set(p \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${f}\")
        if(EXISTS \"\${p}\")
          execute_process(COMMAND \"${KALVOR_OBJCOPY}\" --remove-section=.comment \"\${p}\")
        endif()
      endforeach()
    endif()")
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

# --- Manual pages and the package's documents, gzip-compressed as Debian wants them --------------
# (-n: no name or time stamp inside, so the same sources give the same files).
set(KALVOR_PAGES kalvor-tp.1)
if(TARGET zeda-sim)
  list(APPEND KALVOR_PAGES zeda-sim.1)
endif()
set(KALVOR_GZIPPED)
foreach(page IN LISTS KALVOR_PAGES)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                     COMMAND gzip -9n -c ${KALVOR_DATA_DIR}/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
                     DEPENDS ${KALVOR_DATA_DIR}/man/${page} VERBATIM)
  list(APPEND KALVOR_GZIPPED ${CMAKE_BINARY_DIR}/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
                   COMMAND gzip -9n -c ${KALVOR_DATA_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
                   DEPENDS ${KALVOR_DATA_DIR}/debian/changelog VERBATIM)
list(APPEND KALVOR_GZIPPED ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_target(kalvor-tp-docs ALL DEPENDS ${KALVOR_GZIPPED})
# Installing the program installs its pages: build them with it.
if(TARGET kalvor-tp)
  add_dependencies(kalvor-tp kalvor-tp-docs)
endif()
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz ${KALVOR_DATA_DIR}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kalvor-tp)

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

# Runtime dependencies. CPack's own dpkg-shlibdeps run would also add ldconfig calls in postinst
# and postrm for the window module under /usr/lib/kalvor-tp, which is private (dlopened by path,
# never on the library search path): no maintainer scripts at all, so `apt remove` leaves nothing
# behind. The package step (cmake/deb_depends.cmake) asks dpkg-shlibdeps itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
if(KALVOR_WITH_QT)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6charts6, libqt6widgets6, libqt6gui6, libqt6core6, libc6, libstdc++6")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()
set(KALVOR_DEB_ELF_FILES ${CMAKE_BINARY_DIR}/kalvor-tp)
if(TARGET kalvor-tp-window)
  list(APPEND KALVOR_DEB_ELF_FILES ${CMAKE_BINARY_DIR}/kalvor-tp-window.so)
endif()
if(TARGET zeda-sim)
  list(APPEND KALVOR_DEB_ELF_FILES ${CMAKE_BINARY_DIR}/zeda-sim)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb_depends.cmake.in ${CMAKE_BINARY_DIR}/deb_depends.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/deb_depends.cmake)

include(CPack)

# --- Test: install into a temporary prefix and check the tree ----------------------------------
if(KALVOR_TESTS)
  add_test(NAME install_tree
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/../tests/install/check_install.sh
                   ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_COMMAND})
  set_tests_properties(install_tree PROPERTIES TIMEOUT 300)
  # The README's synopsis and options table name every option of kalvor-tp --help.
  add_test(NAME readme_options
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/../tests/install/check_readme.sh
                   ${CMAKE_BINARY_DIR}/kalvor-tp ${CMAKE_CURRENT_LIST_DIR}/../README.md)
endif()
