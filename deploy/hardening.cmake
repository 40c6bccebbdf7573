# SPDX-License-Identifier: MIT
# The distribution's hardening flags for the packaged programs and library:
# dpkg-buildflags with every hardening feature (stack protector, fortify,
# format checks, relro and bind-now; PIE is the compiler's default), for
# the Debian architecture of the tree. Only the hardening flags are taken:
# the optimisation and debug flags stay those of the build type. Not for
# Debug builds (fortify needs optimisation) nor the sanitizer and fuzz
# trees, whose own instrumentation is what they are for.
option(QO3964_HARDENING "Build with the distribution's hardening flags (dpkg-buildflags)" ON)
if(NOT QO3964_HARDENING OR QO3964_SANITIZE OR QO3964_FUZZ OR CMAKE_BUILD_TYPE STREQUAL "Debug")
  return()
endif()
find_program(QO3964_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT QO3964_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: built without the distribution's hardening flags")
  return()
endif()
set(_qo3964_flag_env DEB_BUILD_MAINT_OPTIONS=hardening=+all)
if(QO3964_DEB_ARCH)
  list(APPEND _qo3964_flag_env DEB_HOST_ARCH=${QO3964_DEB_ARCH})
endif()
set(_qo3964_hardening "^-(fstack-|fcf-protection|mbranch-protection|D_FORTIFY_SOURCE|Wformat|Werror=format|Wl,-z,)")
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${_qo3964_flag_env} ${QO3964_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE _qo3964_flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  separate_arguments(_qo3964_flags UNIX_COMMAND "${_qo3964_flags}")
  list(FILTER _qo3964_flags INCLUDE REGEX "${_qo3964_hardening}")
  if(kind STREQUAL "LDFLAGS")
    add_link_options(${_qo3964_flags})
  else()
    # CXXFLAGS and CFLAGS hold the same hardening flags here.
    add_compile_options(${_qo3964_flags})
  endif()
  list(APPEND _qo3964_all ${_qo3964_flags})
endforeach()
# No compiler identification in the objects (a .comment section that a
# package does not need, as Debian's strip would remove it).
add_compile_options(-fno-ident)
list(APPEND _qo3964_all -fno-ident)
list(REMOVE_DUPLICATES _qo3964_all)
message(STATUS "hardening flags: ${_qo3964_all}")
