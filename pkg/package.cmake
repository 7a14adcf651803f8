# Bash completion for every install, and what the Debian package adds to the installed tree so
# that it is a package like any other: compressed manual pages, copyright, changelog.
# Included from the top-level CMakeLists.txt before include(CPack).

# bash-completion loads completions/<command> on first use, so each name the programs answer to
# gets one, all the same file.
# zorbin's words and the arguments of its options come from its own tables, written into
# the script by a program of its core library.
add_executable(completion_words ${CMAKE_CURRENT_LIST_DIR}/completion_words.cpp)
target_link_libraries(completion_words PRIVATE zorbin_core)
set_target_properties(completion_words PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/pkg)
set(FWKIT_COMPLETION ${CMAKE_BINARY_DIR}/pkg/completion.bash)
add_custom_command(OUTPUT ${FWKIT_COMPLETION}
  COMMAND completion_words ${CMAKE_CURRENT_LIST_DIR}/completion.bash ${FWKIT_COMPLETION}
  DEPENDS completion_words ${CMAKE_CURRENT_LIST_DIR}/completion.bash VERBATIM)
add_custom_target(completion ALL DEPENDS ${FWKIT_COMPLETION})
install(FILES ${FWKIT_COMPLETION}
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
