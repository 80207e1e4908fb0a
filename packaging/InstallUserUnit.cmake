# Installs the systemd user unit; included by cmake_install.cmake, so it runs at install time. The
# prefix is only certain then: `cmake --install --prefix` may name another than the configured one.
# Expects NETQUILL_UNIT_TEMPLATE (the .in file) and NETQUILL_UNIT_BINDIR (relative to the prefix).
#
# systemd searches <prefix>/lib/systemd/user only for /usr and /usr/local, where it is compiled in;
# any other prefix gets the XDG data form, <prefix>/share/systemd/user, which is where the user
# manager looks for ~/.local (and for any prefix whose share folder is on XDG_DATA_DIRS).
cmake_path(SET netquill_prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/$" "\\1" netquill_prefix "${netquill_prefix}")
if(netquill_prefix STREQUAL "/usr" OR netquill_prefix STREQUAL "/usr/local")
  set(netquill_unit_dir "${netquill_prefix}/lib/systemd/user")
else()
  set(netquill_unit_dir "${netquill_prefix}/share/systemd/user")
endif()

# systemd reads % as a specifier and a space as the end of the path: both escaped, quoted when needed.
set(NETQUILL_MONITOR_PROGRAM "${netquill_prefix}/${NETQUILL_UNIT_BINDIR}/netquill-monitor")
string(REPLACE "%" "%%" NETQUILL_MONITOR_PROGRAM "${NETQUILL_MONITOR_PROGRAM}")
if(NETQUILL_MONITOR_PROGRAM MATCHES "[ \t\"\\\\']")
  string(REPLACE "\\" "\\\\" NETQUILL_MONITOR_PROGRAM "${NETQUILL_MONITOR_PROGRAM}")
  string(REPLACE "\"" "\\\"" NETQUILL_MONITOR_PROGRAM "${NETQUILL_MONITOR_PROGRAM}")
  set(NETQUILL_MONITOR_PROGRAM "\"${NETQUILL_MONITOR_PROGRAM}\"")
endif()

set(netquill_unit "${netquill_unit_dir}/netquill-monitor.service")
file(READ "${NETQUILL_UNIT_TEMPLATE}" netquill_unit_text)
message(STATUS "Installing: $ENV{DESTDIR}${netquill_unit}")
file(CONFIGURE OUTPUT "$ENV{DESTDIR}${netquill_unit}" CONTENT "${netquill_unit_text}" @ONLY)
file(CHMOD "$ENV{DESTDIR}${netquill_unit}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# Listed in install_manifest.txt like every other file, for the uninstall.
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${netquill_unit}")

set(netquill_data_home "$ENV{XDG_DATA_HOME}")
if(netquill_data_home STREQUAL "")
  set(netquill_data_home "$ENV{HOME}/.local/share")
endif()
if(NOT netquill_prefix MATCHES "^/usr(/local)?$" AND NOT "${netquill_prefix}/share" STREQUAL netquill_data_home)
  message(STATUS "systemd finds ${netquill_unit} only while ${netquill_prefix}/share is on XDG_DATA_DIRS; "
                 "else: systemctl --user link ${netquill_unit}")
endif()
