# What users get, and how CPack packs it; included at the end of the top-level CMakeLists.txt.
# The version comes from project() alone and reaches the version resource of prune.exe, the
# package names, the man page and the guide. tools/package.sh builds the packages into dist/.
#
# Windows: one folder with prune.exe, the commented prune.ini and the German guide LIESMICH.txt
#   (`cmake --install build-win --prefix <folder>`; CPack ZIP; the MSI is made from the same
#   folder by wixl, see prune.wxs).
# Linux: /opt/prune/prune beside its prune.ini, /usr/bin/prune a link to it, the man page and
#   the Debian documentation files (CPack DEB and TGZ, both laid out from /).

set(PACKAGING_SOURCE ${CMAKE_CURRENT_LIST_DIR})
set(PACKAGING_BINARY ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(PRUNE_MAINTAINER "prune maintainers <maintainers@users.noreply.c-seed-3a2b8771.example>"
  CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME prune)
set(CPACK_PACKAGE_VENDOR "prune maintainers")
set(CPACK_PACKAGE_CONTACT "${PRUNE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "removes redundant A-axis feed moves from laser NC part programs")
set(CPACK_STRIP_FILES ON)
# Installing and packing take what the build tree holds, without building everything (the tests
# among it) first: tools/package.sh builds the few targets that the packages need.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/packages)

if(WIN32)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/src/run/prune_version.h.in
    ${PACKAGING_BINARY}/prune_version.h @ONLY)
  target_include_directories(prune PRIVATE ${PACKAGING_BINARY})
  set_source_files_properties(src/run/prune.rc PROPERTIES
    OBJECT_DEPENDS ${PACKAGING_BINARY}/prune_version.h)
  # Notepad of every Windows version reads the guide right with CR LF and a byte-order mark.
  configure_file(${PACKAGING_SOURCE}/LIESMICH.txt ${PACKAGING_BINARY}/LIESMICH.txt @ONLY
    NEWLINE_STYLE CRLF)

  install(TARGETS prune RUNTIME DESTINATION .)
  install(FILES ${PACKAGING_SOURCE}/prune.ini ${PACKAGING_BINARY}/LIESMICH.txt DESTINATION .)

  # The zip holds one folder prune-<version>/; tools/package.sh gives the zip its -win64 name.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME prune-${PROJECT_VERSION})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(doc_files ${PACKAGING_BINARY}/prune.1.gz ${PACKAGING_BINARY}/changelog.gz)
  configure_file(${PACKAGING_SOURCE}/prune.1 ${PACKAGING_BINARY}/prune.1 @ONLY)
  configure_file(${PACKAGING_SOURCE}/debian/changelog ${PACKAGING_BINARY}/changelog @ONLY)
  foreach(doc_file IN LISTS doc_files)
    string(REGEX REPLACE "\\.gz$" "" plain_file ${doc_file})
    # -n: no name or time stamp inside, so that the package comes out the same every time.
    add_custom_command(OUTPUT ${doc_file} COMMAND gzip -9nf -k ${plain_file}
      DEPENDS ${plain_file} VERBATIM)
  endforeach()
  add_custom_target(prune_docs ALL DEPENDS ${doc_files})
  # The program finds its settings beside its real executable, also when started by the link.
  file(MAKE_DIRECTORY ${PACKAGING_BINARY}/bin)
  file(CREATE_LINK /opt/prune/prune ${PACKAGING_BINARY}/bin/prune SYMBOLIC)

  install(TARGETS prune RUNTIME DESTINATION opt/prune)
  install(FILES ${PACKAGING_SOURCE}/prune.ini DESTINATION opt/prune)
  install(FILES ${PACKAGING_BINARY}/bin/prune DESTINATION usr/bin)
  install(FILES ${PACKAGING_BINARY}/prune.1.gz DESTINATION usr/share/man/man1)
  install(FILES ${PACKAGING_SOURCE}/debian/copyright ${PACKAGING_BINARY}/changelog.gz
    DESTINATION usr/share/doc/prune)
  install(FILES ${PACKAGING_SOURCE}/debian/lintian-overrides
    DESTINATION usr/share/lintian/overrides RENAME prune)

  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PACKAGE_FILE_NAME prune-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION "prune post-processes the NC part programs of a laser cutting machine with a
rotary A axis. Started with the path of one program, it drops the redundant
A-axis feed moves inside the stretches in which the laser is on and writes the
program back in its own encoding. A CAM system calls it after posting.")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PACKAGING_SOURCE}/debian/conffiles)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
