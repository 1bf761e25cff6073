# Debian package with CPack: `cpack -G DEB` in the build folder gives
# valtrassosftp_<version>_<arch>.deb with the files of Install.cmake under /usr and the
# maintainer scripts of packaging/debian (system user, program folder, daemon-reload).
set(VALTRASSO_PACKAGE_MAINTAINER "ValtrassoSftp developers <valtrassosftp@example.com>"
    CACHE STRING "Maintainer line of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME valtrassosftp)
set(CPACK_PACKAGE_VENDOR "ValtrassoSftp")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VALTRASSO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended file-transfer scheduler over SFTP and FTP")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories the package creates get the usual 0755, whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VALTRASSO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the extended text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ValtrassoSftp checks up to 51 transfer jobs every few seconds and downloads or
uploads the files that are due, over SFTP (libssh2) or FTP (libcurl). It runs
with a Qt window and a notification-area icon, or headless.
.
The package ships a systemd unit, valtrassosftp.service, that runs the timer
mode headless as the system user valtrassosftp with /var/lib/valtrassosftp as
its program folder, and a template, valtrassosftp@.service, for one instance
per partner server with its own settings, log, metrics and alerts. The units
are installed but neither enabled nor started.")

# The libraries' packages come from the binary itself when dpkg-shlibdeps can read it
# (it needs dpkg-dev and file); otherwise from the list of Debian 12's packages of the
# libraries the program links. A libssh2 built into the program (cmake/Libssh2.cmake) is no
# package's: the package then depends on no libssh2 package at all.
find_program(VALTRASSO_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(VALTRASSO_FILE file)
if(VALTRASSO_DPKG_SHLIBDEPS AND VALTRASSO_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
else()
  message(STATUS "dpkg-shlibdeps or file missing: the package lists its library packages by name")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  # libssh2-1 only when the system's libssh2 is linked; one built into the program needs
  # OpenSSL's libcrypto, which libssl3 holds.
  set(_vs_ssh_package "libssh2-1 (>= 1.11)")
  if(VALTRASSO_LIBSSH2_DEBIAN_SOURCE)
    set(_vs_ssh_package "libssl3")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "adduser, libc6, libstdc++6, libgcc-s1, libqt6core6, libqt6gui6, libqt6network6, libqt6widgets6, ${_vs_ssh_package}, libcurl4, libsystemd0, libsqlite3-0")
endif()
# Qt's own Italian texts for the window's standard dialogs; without them the buttons read
# "Cancel" and a start-up line says so. The headless service does not need them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd, qt6-translations-l10n")
# For the example alert command and for the metrics file's usual reader.
# sqlite3: queries of the journal of transfers beyond --history.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bsd-mailx | mailutils, msmtp-mta, prometheus-node-exporter, sqlite3")

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
