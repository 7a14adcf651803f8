# Bash completion for every install, and what the Debian package adds to the installed tree so
# that it is a package like any other: compressed manual pages, copyright, changelog.
# Included from the top-level CMakeLists.txt before include(CPack).

# bash-completion loads completions/<command> on first use, so each name the programs answer to
# gets one, all the same file.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/completion.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zorbin)
install(CODE "
  foreach(name Zorbin kelvash orvane)
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/bash-completion/completions/\${name}\")
    message(STATUS \"Installing: \${link}\")
    file(CREATE_LINK zorbin \"\${link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/bash-completion/completions/\${name}\")
  endforeach()
")

set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://fwkit.invalid/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The staging tree is finished by a script of ours after install and strip, before packing.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-stage.cmake)
set(CPACK_FWKIT_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_FWKIT_STRIP ${CMAKE_STRIP})
set(CPACK_FWKIT_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/changelog)
