# The Debian package kx305, built by cpack from an install of this build.

# The package's version and maintainer come from the top entry of its
# changelog, so that the two cannot disagree.
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog changelog_lines)
list(GET changelog_lines 0 top)
if(NOT top MATCHES "^kx305 \\(([0-9.]+)-([0-9]+)\\) ")
    message(FATAL_ERROR "packaging/debian/changelog: the top entry does not start with \"kx305 (VERSION-REVISION) \"")
endif()
set(deb_upstream ${CMAKE_MATCH_1})
set(deb_revision ${CMAKE_MATCH_2})
if(NOT deb_upstream STREQUAL PROJECT_VERSION)
    # The package takes the project's version; a changelog still on an
    # older release would make its name lie.
    message(FATAL_ERROR "packaging/debian/changelog: the top entry is for ${deb_upstream}, the project is ${PROJECT_VERSION}: "
                        "add an entry for this version")
endif()
set(maintainer)
foreach(line IN LISTS changelog_lines)
    if(line MATCHES "^ -- (.+ <[^>]+>)  ")
        set(maintainer "${CMAKE_MATCH_1}")
        break()
    endif()
endforeach()
if(NOT maintainer)
    message(FATAL_ERROR "packaging/debian/changelog: the top entry has no \" -- NAME <ADDRESS>  DATE\" line")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog)

# What Debian's policy wants beside every package: the copyright in the
# machine-readable format and the changelog, compressed as gzip -9n makes it.
set(changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(
    OUTPUT ${changelog_gz}
    COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog > ${changelog_gz}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog
    COMMENT "changelog.Debian.gz")
add_custom_target(kx305_package_docs ALL DEPENDS ${changelog_gz})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/copyright ${changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kx305)
set(CPACK_PACKAGE_VENDOR "KX-305 maintainers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "KX-305 measurement converter: driver library, command line and station service")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_NAME kx305)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${deb_revision})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${maintainer}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The KX-305 is a measurement hub for weather instruments (thermohygrometers,
thermometers, barometers, anemometer, radiation, resistance and distance
meters) with its own rain gauge, on a serial port.
.
This package holds the driver library libkx305 with its C header,
pkg-config file and CMake package; kx305cli, which reads the converter's
live values, records its logging memory into registration files, sets its
clock and log interval, and exports and reports recorded data; kx305sim,
a simulated converter on a pseudo-terminal; the kx305-serve systemd service,
which records a converter and publishes its readings to an MQTT broker; and
a udev rule that names the converter's USB serial adapter /dev/kx305.")
# The libraries the programs need, from the binaries themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file for libkx305.so.2, so that packages built against it depend
# on this package; with it the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mosquitto")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The example configuration is the user's to change: an upgrade keeps the
# changes (or asks), a removal keeps the file until the purge.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/control/conffiles "${KX305_SYSCONF_DIR}/serve.ini\n")
# The library's cache is renewed by dpkg's ldconfig trigger; the scripts
# only tell systemd about the unit (and, being there, keep cpack from
# writing scripts that call ldconfig themselves).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_BINARY_DIR}/control/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/triggers
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)

include(CPack)
