# The Debian package: `cmake --build build --target package` writes build/netquill_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME netquill)
set(CPACK_PACKAGE_VENDOR ${NETQUILL_COMPANY_NAME})
set(CPACK_PACKAGE_VERSION ${NETQUILL_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora <netquill@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show the internal and external IP address")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Netquill is a desktop utility that shows the computer's internal (LAN) IPv4
address and its external (public) address. It looks them up again on request
or every few minutes, remembers the last addresses it saw, and can send an
e-mail or show a desktop notification when either changes. It also offers an
always-on-top overlay with both addresses, DNS and whois lookups, and lives in
the notification area.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${NETQUILL_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://${NETQUILL_WEBSITE}/)
# The libraries come from dpkg-shlibdeps; the X11 platform plugin is loaded at run time, so no
# library dependency names it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The trust store checks mail servers' certificates; a keyring keeps the mail password.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates, gnome-keyring | kwalletmanager")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
