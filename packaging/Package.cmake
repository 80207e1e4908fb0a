# The Debian package: `cmake --build build --target package` writes build/netquill_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME netquill)
set(CPACK_PACKAGE_VENDOR ${NETQUILL_COMPANY_NAME})
set(CPACK_PACKAGE_VERSION ${NETQUILL_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora <netquill@example.com>")
# Two packages from one build: netquill (the desktop program) and netquill-monitor (the service and the
# page parser, without any graphics library), which the desktop package depends on. Each description
# starts with its own synopsis line, so CPACK_PACKAGE_DESCRIPTION_SUMMARY stays unset.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desktop monitor)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME netquill)
set(CPACK_DEBIAN_MONITOR_PACKAGE_NAME netquill-monitor)
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION
"show the internal and external IP address
Netquill is a desktop utility that shows the computer's internal (LAN) IPv4
address and its external (public) address. It looks them up again on request
or every few minutes, remembers the last addresses it saw, and can send an
e-mail or show a desktop notification when either changes. It also offers an
always-on-top overlay with both addresses, DNS and whois lookups, and lives in
the notification area.")
set(CPACK_DEBIAN_MONITOR_DESCRIPTION
"watch the internal and external IP address, as a service
netquill-monitor looks up the computer's internal and external address at
start and then every few minutes, remembers them and e-mails the user when
either changes: Netquill without a window, for a home server or any machine
without a desktop. It reads the same settings as the desktop program and comes
with a systemd user unit.")
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
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "qt6-qpa-plugins, netquill-monitor (= ${NETQUILL_VERSION}-${NETQUILL_DEBIAN_REVISION})")
# The trust store checks mail servers' certificates; a keyring keeps the mail password.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "ca-certificates, gnome-keyring | kwalletmanager")
set(CPACK_DEBIAN_MONITOR_PACKAGE_RECOMMENDS "ca-certificates")
# The Apprise notice channel (Telegram, Matrix, Discord...) runs its command.
set(CPACK_DEBIAN_MONITOR_PACKAGE_SUGGESTS "apprise")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SUGGESTS "apprise")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION net)
set(CPACK_DEBIAN_MONITOR_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
