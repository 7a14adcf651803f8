# CPack pre-build script for the Debian package: turns the installed staging tree into what
# Debian policy asks for before CPack packs it and sums it (md5sums).
cmake_policy(VERSION 3.25)
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root ${CPACK_TEMPORARY_DIRECTORY})
set(usr ${root}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${usr}/share/doc/${CPACK_PACKAGE_NAME})
set(src ${CPACK_FWKIT_SOURCE_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${rc}")
  endif()
endfunction()

# gzip -9n: best compression and no name or time stamp, so the bytes depend on the text only.
function(compress file)
  run(gzip -9nf ${file})
endfunction()

# The changelog names the version it describes; a package of another version would carry
# someone else's history.
file(STRINGS ${CPACK_FWKIT_CHANGELOG} head LIMIT_COUNT 1)
if(NOT head MATCHES "^${CPACK_PACKAGE_NAME} \\(${CPACK_PACKAGE_VERSION}\\) ")
  message(FATAL_ERROR "${CPACK_FWKIT_CHANGELOG} begins with '${head}', "
                      "not an entry for ${CPACK_PACKAGE_VERSION}")
endif()

# The programs are the ELF files of the tree.
set(programs)
file(GLOB_RECURSE files ${root}/*)
foreach(file ${files})
  if(NOT IS_SYMLINK ${file})
    file(READ ${file} magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      list(APPEND programs ${file})
    endif()
  endif()
endforeach()

# dh_strip removes these too: the compiler's version string is no use in a program.
foreach(prog ${programs})
  run(${CPACK_FWKIT_STRIP} --remove-section=.comment --remove-section=.note ${prog})
endforeach()

# Manual pages compressed; a link to a page becomes a link to the compressed page.
file(GLOB pages ${usr}/share/man/man*/*)
foreach(page ${pages})
  if(IS_SYMLINK ${page})
    file(READ_SYMLINK ${page} target)
    file(REMOVE ${page})
    file(CREATE_LINK ${target}.gz ${page}.gz SYMBOLIC)
  endif()
endforeach()
foreach(page ${pages})
  if(EXISTS ${page} AND NOT IS_SYMLINK ${page})
    compress(${page})
  endif()
endforeach()

# copyright in the machine-readable format, holder and licence text taken from LICENSE: the
# lines after its copyright line, indented, an empty line written as " .".
file(STRINGS ${src}/LICENSE licence)
set(holder)
set(body)
foreach(line IN LISTS licence)
  if(NOT holder)
    if(line MATCHES "^Copyright \\(c\\) (.+)$")
      set(holder ${CMAKE_MATCH_1})
    endif()
  elseif(line STREQUAL "" AND "${body}" STREQUAL "")
    # the blank line between the notice and the text
  elseif(line STREQUAL "")
    string(APPEND body " .\n")
  else()
    string(APPEND body " ${line}\n")
  endif()
endforeach()
if(NOT holder OR "${body}" STREQUAL "")
  message(FATAL_ERROR "${src}/LICENSE: no 'Copyright (c) ...' line followed by the licence")
endif()
file(MAKE_DIRECTORY ${doc})
file(WRITE ${doc}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}
Source: ${CPACK_DEBIAN_PACKAGE_HOMEPAGE}

Files: *
Copyright: ${holder}
License: Expat
${body}")
file(COPY_FILE ${CPACK_FWKIT_CHANGELOG} ${doc}/changelog)
compress(${doc}/changelog)

# Debian's modes whatever the umask of the one who packs: 0755 for directories and programs,
# 0644 for the rest. Links keep theirs.
set(rw OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(rwx ${rw} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
file(GLOB_RECURSE entries LIST_DIRECTORIES true ${root}/*)
foreach(entry ${entries})
  if(IS_SYMLINK ${entry})
    continue()
  elseif(IS_DIRECTORY ${entry} OR entry IN_LIST programs)
    file(CHMOD ${entry} PERMISSIONS ${rwx})
  else()
    file(CHMOD ${entry} PERMISSIONS ${rw})
  endif()
endforeach()
