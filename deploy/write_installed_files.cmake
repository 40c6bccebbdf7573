# Install step: writes the systemd unit template and the stale-segment check
# with the absolute paths of the installed programs. Runs inside
# cmake_install.cmake, where CMAKE_INSTALL_PREFIX is the prefix of this
# install (the package's /usr included) and DESTDIR a staging root.
foreach(rel IN ITEMS BIN LIBEXEC DOC)
  if(IS_ABSOLUTE "${QO3964_${rel}_REL}")
    set(QO3964_${rel}_DIR "${QO3964_${rel}_REL}")
  else()
    set(QO3964_${rel}_DIR "${CMAKE_INSTALL_PREFIX}/${QO3964_${rel}_REL}")
  endif()
endforeach()

# Writes one file from its template and records it like any installed file.
function(qo3964_install_configured template destination)
  set(target "$ENV{DESTDIR}${destination}")
  message(STATUS "Installing: ${target}")
  configure_file("${QO3964_DEPLOY_SOURCE_DIR}/${template}" "${target}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

qo3964_install_configured("qo3964_server@.service.in"
  "${CMAKE_INSTALL_PREFIX}/lib/systemd/system/qo3964_server@.service")
qo3964_install_configured("clear_stale_segment.in" "${QO3964_LIBEXEC_DIR}/clear_stale_segment")
