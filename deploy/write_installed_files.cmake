# SPDX-License-Identifier: MIT
# Install step: writes the systemd unit template, its generator, the
# stale-segment check and the example rc-file with the absolute paths of
# this install. Runs inside cmake_install.cmake, where CMAKE_INSTALL_PREFIX
# is the prefix of this install (the package's /usr included) and DESTDIR
# a staging root. Under the prefix /usr the configuration lies in /etc and
# the units in /usr/lib/systemd, as on any Debian system; under any other
# prefix both stay inside it.
foreach(rel IN ITEMS BIN LIBEXEC)
  if(IS_ABSOLUTE "${QO3964_${rel}_REL}")
    set(QO3964_${rel}_DIR "${QO3964_${rel}_REL}")
  else()
    set(QO3964_${rel}_DIR "${CMAKE_INSTALL_PREFIX}/${QO3964_${rel}_REL}")
  endif()
endforeach()
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(QO3964_SYSCONF_DIR "/etc/qo3964")
else()
  set(QO3964_SYSCONF_DIR "${CMAKE_INSTALL_PREFIX}/etc/qo3964")
endif()
set(QO3964_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")

# Writes one file from its template and records it like any installed file;
# a further argument COPYONLY copies it as it is.
function(qo3964_install_configured template destination)
  set(target "$ENV{DESTDIR}${destination}")
  message(STATUS "Installing: ${target}")
  set(how @ONLY)
  if(ARGN)
    set(how ${ARGN})
  endif()
  configure_file("${QO3964_DEPLOY_SOURCE_DIR}/${template}" "${target}" ${how})
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

qo3964_install_configured("qo3964_server@.service.in" "${QO3964_UNIT_DIR}/qo3964_server@.service")
qo3964_install_configured("qo3964_server-generator.in"
  "${CMAKE_INSTALL_PREFIX}/lib/systemd/system-generators/qo3964_server-generator")
qo3964_install_configured("clear_stale_segment.in" "${QO3964_LIBEXEC_DIR}/clear_stale_segment")
qo3964_install_configured("qo3964.rc.example" "${QO3964_SYSCONF_DIR}/qo3964.rc.example" COPYONLY)
