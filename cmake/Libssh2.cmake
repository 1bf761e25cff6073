# The libssh2 the program links, as the target vs_libssh2.
#
# libssh2 1.11 is the first with rsa-sha2-256/512 (host keys and user keys), AES-GCM and
# encrypt-then-MAC; 1.11.1 adds chacha20-poly1305. Without them current OpenSSH servers refuse
# RSA user keys, servers whose only host key is RSA cannot be reached, and hardened servers
# have no cipher or MAC in common with us.
#  - The system's libssh2 when it is 1.11 or newer (Debian 13 on): linked as a shared library,
#    updated with the system.
#  - Otherwise (Debian 12 has 1.10) Debian 13's libssh2 source package, fetched and unpacked by
#    scripts/libssh2-source into VALTRASSO_LIBSSH2_SOURCE, compiled here as a static library
#    with the OpenSSL backend, and linked into the program.
# VALTRASSO_LIBSSH2_DEBIAN_SOURCE says which (empty: the system's), for `--version` and the log.
include(ExternalProject)

set(_vs_minimum_libssh2 1.11)
pkg_check_modules(LIBSSH2 QUIET IMPORTED_TARGET "libssh2>=${_vs_minimum_libssh2}")

set(_vs_cache "$ENV{XDG_CACHE_HOME}")
if(NOT _vs_cache)
  set(_vs_cache "$ENV{HOME}/.cache")
endif()
set(VALTRASSO_LIBSSH2_SOURCE "${_vs_cache}/valtrassosftp/libssh2" CACHE PATH
    "Unpacked libssh2 source package to build when the system's libssh2 is older than ${_vs_minimum_libssh2}")

add_library(vs_libssh2 INTERFACE)
if(LIBSSH2_FOUND)
  target_link_libraries(vs_libssh2 INTERFACE PkgConfig::LIBSSH2)
  set(VALTRASSO_LIBSSH2_DEBIAN_SOURCE "")
  message(STATUS "libssh2: the system's ${LIBSSH2_VERSION}")
  return()
endif()

get_filename_component(_vs_source "${VALTRASSO_LIBSSH2_SOURCE}" REALPATH)
if(NOT EXISTS "${_vs_source}/CMakeLists.txt" OR NOT EXISTS "${_vs_source}/include/libssh2.h")
  message(FATAL_ERROR
          "The system's libssh2 is older than ${_vs_minimum_libssh2} and no libssh2 source is in "
          "${VALTRASSO_LIBSSH2_SOURCE}: run scripts/install-deps (or scripts/libssh2-source), "
          "or install libssh2 ${_vs_minimum_libssh2} or newer")
endif()
# The Debian version of the source package, from its changelog's first line.
file(STRINGS "${_vs_source}/debian/changelog" _vs_changelog LIMIT_COUNT 1)
string(REGEX REPLACE "^[^(]*\\(([^)]+)\\).*" "\\1" _vs_debian_version "${_vs_changelog}")
set(VALTRASSO_LIBSSH2_DEBIAN_SOURCE "${_vs_debian_version}")
message(STATUS "libssh2: built from ${_vs_source} (Debian ${_vs_debian_version}), linked statically")

set(_vs_prefix "${PROJECT_BINARY_DIR}/libssh2")
set(_vs_library "${_vs_prefix}/lib/libssh2.a")
set(_vs_c_launcher "$ENV{CMAKE_C_COMPILER_LAUNCHER}")
ExternalProject_Add(libssh2_build
  SOURCE_DIR "${_vs_source}"
  PREFIX "${PROJECT_BINARY_DIR}/libssh2-build"
  INSTALL_DIR "${_vs_prefix}"
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
    -DCMAKE_INSTALL_LIBDIR=lib
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON
    "-DCMAKE_C_COMPILER_LAUNCHER=${_vs_c_launcher}"
    -DBUILD_SHARED_LIBS=OFF
    -DBUILD_STATIC_LIBS=ON
    -DBUILD_EXAMPLES=OFF
    -DBUILD_TESTING=OFF
    -DCRYPTO_BACKEND=OpenSSL
    -DENABLE_ZLIB_COMPRESSION=OFF
  BUILD_BYPRODUCTS "${_vs_library}"
  # A new source package (a security fix fetched by scripts/libssh2-source) is a new folder:
  # configure and build again when the link points elsewhere.
  CONFIGURE_HANDLED_BY_BUILD ON)
# The include folder must exist when the targets that use it are configured.
file(MAKE_DIRECTORY "${_vs_prefix}/include")

add_library(vs_libssh2_static STATIC IMPORTED GLOBAL)
set_target_properties(vs_libssh2_static PROPERTIES IMPORTED_LOCATION "${_vs_library}")
add_dependencies(vs_libssh2_static libssh2_build)
# Before the system's include folder, where Debian 12's libssh2 1.10 headers may be.
target_include_directories(vs_libssh2 BEFORE INTERFACE "${_vs_prefix}/include")
target_link_libraries(vs_libssh2 INTERFACE vs_libssh2_static OpenSSL::Crypto)
