# Install rules: the program, its manual page, the systemd units, the example alert command,
# the documentation, the desktop entry and the icon, each in the place a Linux system looks
# for it.
include(GNUInstallDirs)

# Relative to the prefix, so that the package (prefix /usr) puts the unit in
# /usr/lib/systemd/system, which systemd always searches.
set(VALTRASSO_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd unit is installed, relative to the install prefix")

set(_vs_packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(_vs_packaging_bin ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS valtrassosftp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual page, gzipped as Debian expects (-n: no name or time stamp, so builds repeat).
configure_file(${_vs_packaging_src}/valtrassosftp.1 ${_vs_packaging_bin}/valtrassosftp.1 @ONLY)
find_program(VALTRASSO_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${_vs_packaging_bin}/valtrassosftp.1.gz
  COMMAND ${VALTRASSO_GZIP} -9 -n -f -k ${_vs_packaging_bin}/valtrassosftp.1
  DEPENDS ${_vs_packaging_bin}/valtrassosftp.1
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(valtrassosftp_manpage ALL DEPENDS ${_vs_packaging_bin}/valtrassosftp.1.gz)
install(FILES ${_vs_packaging_bin}/valtrassosftp.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The units start /usr/bin/valtrassosftp, where the package puts it. Another prefix
# (/usr/local for a plain `cmake --install`) gets units naming the program where it really
# went: the copies are rewritten at install time, when the prefix is known, and installed by
# the rule right after. valtrassosftp@.service is the template, one instance per partner.
foreach(_vs_unit valtrassosftp.service valtrassosftp@.service)
  set(_vs_unit_installed ${_vs_packaging_bin}/install/${_vs_unit})
  install(CODE "
    set(_vs_bindir \"${CMAKE_INSTALL_BINDIR}\")
    if(NOT IS_ABSOLUTE \"\${_vs_bindir}\")
      set(_vs_bindir \"\${CMAKE_INSTALL_PREFIX}/\${_vs_bindir}\")
    endif()
    file(READ \"${_vs_packaging_src}/${_vs_unit}\" _vs_text)
    string(REPLACE \"/usr/bin/valtrassosftp\" \"\${_vs_bindir}/valtrassosftp\" _vs_text \"\${_vs_text}\")
    file(WRITE \"${_vs_unit_installed}\" \"\${_vs_text}\")
  ")
  install(FILES ${_vs_unit_installed} DESTINATION ${VALTRASSO_SYSTEMD_UNIT_DIR})
endforeach()

# The example alert command (alertcommand= in the settings), mailing the event.
install(PROGRAMS ${_vs_packaging_src}/alert-mail.sh
        DESTINATION ${CMAKE_INSTALL_DATADIR}/valtrassosftp)

# The documentation Debian expects of every package, and the annotated settings example
# (which scripts/demo uses too).
set(_vs_docdir ${CMAKE_INSTALL_DATADIR}/doc/valtrassosftp)
add_custom_command(
  OUTPUT ${_vs_packaging_bin}/changelog.gz
  COMMAND ${VALTRASSO_GZIP} -9 -n -c ${_vs_packaging_src}/debian/changelog > ${_vs_packaging_bin}/changelog.gz
  DEPENDS ${_vs_packaging_src}/debian/changelog
  COMMENT "Compressing the changelog")
add_custom_target(valtrassosftp_changelog ALL DEPENDS ${_vs_packaging_bin}/changelog.gz)
install(FILES ${_vs_packaging_src}/debian/copyright ${_vs_packaging_bin}/changelog.gz
        DESTINATION ${_vs_docdir})
install(FILES ${_vs_packaging_src}/valtrassosftp.ini DESTINATION ${_vs_docdir}/examples)
# A libssh2 built in (cmake/Libssh2.cmake) is deliberate: lintian is told why.
if(VALTRASSO_LIBSSH2_DEBIAN_SOURCE)
  install(FILES ${_vs_packaging_src}/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME valtrassosftp)
endif()

install(FILES ${_vs_packaging_src}/valtrassosftp.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_vs_packaging_src}/valtrassosftp.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
