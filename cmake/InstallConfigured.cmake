# Run by `cmake --install` (and CPack): the files that name installed paths,
# written for the prefix of this installation (file(INSTALL) adds DESTDIR).
# Expects CHRONAVEL_SOURCE_DIR, CHRONAVEL_STAGE, CHRONAVEL_SBINDIR,
# CHRONAVEL_BINDIR, CHRONAVEL_PACKAGE (chronavel or chronavel-tools) and
# CHRONAVEL_CHANGELOG.
include("${CHRONAVEL_SOURCE_DIR}/cmake/ChronavelPaths.cmake")
chronavel_install_paths("${CMAKE_INSTALL_PREFIX}" "${CHRONAVEL_SBINDIR}" "${CHRONAVEL_BINDIR}")
set(_src "${CHRONAVEL_SOURCE_DIR}")
set(_stage "${CHRONAVEL_STAGE}")
file(MAKE_DIRECTORY "${_stage}")

# Under the platform's directory by intent (see README, Packages).
if(CMAKE_INSTALL_PREFIX MATCHES "^/opt/")
  set(_overrides "${_stage}/${CHRONAVEL_PACKAGE}")
  file(WRITE "${_overrides}" "${CHRONAVEL_PACKAGE}: dir-or-file-in-opt *\n")
  if(CHRONAVEL_PACKAGE STREQUAL "chronavel")
    file(APPEND "${_overrides}" "chronavel: non-etc-file-marked-as-conffile *\n")
  endif()
  file(INSTALL "${_overrides}" DESTINATION "/usr/share/lintian/overrides")
endif()
set(_docs "${_src}/packaging/copyright" "${CHRONAVEL_CHANGELOG}")
if(CHRONAVEL_PACKAGE STREQUAL "chronavel")
  list(APPEND _docs "${_src}/doc/events.md")
endif()
file(INSTALL ${_docs} DESTINATION "${CHRONAVEL_DOC_ROOT}/${CHRONAVEL_PACKAGE}")
if(NOT CHRONAVEL_PACKAGE STREQUAL "chronavel")
  return()
endif()

configure_file("${_src}/packaging/chronavel.init.in" "${_stage}/chronavel" @ONLY)
configure_file("${_src}/packaging/chronavel.service.in" "${_stage}/chronavel.service" @ONLY)
# The top-level file names the other two by absolute path, so the server
# and chronavel-check read the same files from any directory.
file(READ "${_src}/config/Chronavel.xml" _top)
foreach(_file Connections IODevices)
  string(REPLACE "<${_file}>config/${_file}.xml</${_file}>"
                 "<${_file}>${CHRONAVEL_CONFIG_FULL_DIR}/${_file}.xml</${_file}>" _top "${_top}")
endforeach()
file(WRITE "${_stage}/Chronavel.xml" "${_top}")

file(INSTALL "${_stage}/chronavel" DESTINATION "/etc/init.d"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(INSTALL "${_stage}/chronavel.service" DESTINATION "/lib/systemd/system")
file(INSTALL "${_stage}/Chronavel.xml" "${_src}/config/Connections.xml" "${_src}/config/IODevices.xml"
     DESTINATION "${CHRONAVEL_CONFIG_FULL_DIR}")
