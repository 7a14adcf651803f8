# find_package(fwkit): the kit's programs for the build that makes firmware with them.
#   fwkit::zorbin, fwkit::kelvash, fwkit::orvane   imported executables
#   FWKIT_IMAGE_FORMATS                            the words fwkit_image takes for FORMAT
#   fwkit_image(TARGET <exe> OUTPUT <file> FORMAT <word> [OPTIONS <arg>...])
# The programs run on the build host, whatever the project compiles for, and are found from
# where this file lies: a moved prefix or an unpacked zip works as installed.
# find_package gives this file a policy scope of its own; fwkit_image keeps these policies
# whatever the calling project asks for.
cmake_policy(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/fwkitTargets.cmake)

# zorbin's output formats by the option word that selects each, as its help lists them and
# then those it does not list; raw is the image's plain bytes (the package test holds this
# list to zorbin's table of formats).
# fwkit_image reads its own copy, whatever becomes of the variable in the calling scope.
set_property(GLOBAL PROPERTY FWKIT_IMAGE_FORMATS cosmac fairbug mostech exorciser mds ihf
             signetics tektronix exormacs mcs86 sdsmac motorola32 intel32 vmem mif coe titxt
             carray raw)
get_property(FWKIT_IMAGE_FORMATS GLOBAL PROPERTY FWKIT_IMAGE_FORMATS)

# Converts the executable TARGET links into OUTPUT (relative: to the current binary directory)
# whenever that file is linked anew, or OUTPUT is missing, or zorbin changes; OUTPUT is one of
# the build's outputs, so clean removes it. OPTIONS go to zorbin before the input, run from the
# current source directory; files they join with -add or -addbin are dependencies too.
function(fwkit_image)
  set(usage "fwkit_image(TARGET <executable> OUTPUT <file> FORMAT <word> [OPTIONS <argument>...])")
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;OUTPUT;FORMAT" "OPTIONS")
  if(arg_UNPARSED_ARGUMENTS)
    list(JOIN arg_UNPARSED_ARGUMENTS " " extra)
    message(FATAL_ERROR "fwkit_image: unexpected argument(s) '${extra}'; usage: ${usage}")
  endif()
  foreach(key IN ITEMS TARGET OUTPUT FORMAT OPTIONS)
    # An empty string after a keyword leaves its variable undefined, as no value does.
    if(key IN_LIST arg_KEYWORDS_MISSING_VALUES OR (key IN_LIST ARGN AND NOT DEFINED arg_${key}
                                                   AND NOT key STREQUAL "OPTIONS"))
      message(FATAL_ERROR "fwkit_image: ${key} is given no value; usage: ${usage}")
    elseif(NOT key STREQUAL "OPTIONS" AND NOT DEFINED arg_${key})
      message(FATAL_ERROR "fwkit_image: ${key} is missing; usage: ${usage}")
    endif()
  endforeach()

  # Imported targets are seen only in the directory that found them and below.
  if(NOT TARGET fwkit::zorbin)
    message(FATAL_ERROR "fwkit_image: fwkit::zorbin is not seen here; call find_package(fwkit) "
                        "in this directory or one above it")
  endif()

  set(exe ${arg_TARGET})
  if(NOT TARGET ${exe})
    message(FATAL_ERROR "fwkit_image: TARGET '${exe}' is no target (add_executable first)")
  endif()
  get_target_property(type ${exe} TYPE)
  get_target_property(imported ${exe} IMPORTED)
  if(NOT type STREQUAL "EXECUTABLE")
    message(FATAL_ERROR "fwkit_image: TARGET '${exe}' is of type ${type}, not an executable")
  elseif(imported)
    message(FATAL_ERROR "fwkit_image: TARGET '${exe}' is imported; it must be an executable "
                        "this project links, so that its image follows each link")
  endif()

  # One dash at most: string(REGEX REPLACE "^-") would take every leading dash.
  string(TOLOWER "${arg_FORMAT}" word)
  if(word MATCHES "^-(.*)$")
    set(word "${CMAKE_MATCH_1}")
  endif()
  get_property(formats GLOBAL PROPERTY FWKIT_IMAGE_FORMATS)
  list(JOIN formats " " known)
  if(NOT word IN_LIST formats)
    message(FATAL_ERROR "fwkit_image: FORMAT '${arg_FORMAT}' is not a zorbin format; one of: ${known}")
  endif()

  # The format is FORMAT's alone, and an image is always written: zorbin would refuse a second
  # format only when the build runs, and -info or -help would leave OUTPUT unmade and the step
  # run again on every build.
  set(depends)
  list(LENGTH arg_OPTIONS count)
  set(i 0)
  while(i LESS count)
    list(GET arg_OPTIONS ${i} opt)
    math(EXPR i "${i} + 1")
    string(TOLOWER "${opt}" lower)
    if(lower MATCHES "^-(.*)$" AND CMAKE_MATCH_1 IN_LIST formats)
      message(FATAL_ERROR "fwkit_image: OPTIONS hold the format word '${opt}'; give the format as FORMAT")
    elseif(lower STREQUAL "-info" OR lower STREQUAL "-help")
      message(FATAL_ERROR "fwkit_image: OPTIONS hold '${opt}', which writes no image")
    elseif((lower STREQUAL "-add" OR lower STREQUAL "-addbin") AND i LESS count)
      list(GET arg_OPTIONS ${i} file)
      cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE)
      list(APPEND depends ${file})
    endif()
  endwhile()

  set(out ${arg_OUTPUT})
  cmake_path(ABSOLUTE_PATH out BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NORMALIZE)
  cmake_path(GET out PARENT_PATH out_dir)
  string(REGEX REPLACE "[^A-Za-z0-9_.+-]" "_" name "${exe}-image-${arg_OUTPUT}")
  if(TARGET ${name})
    message(FATAL_ERROR "fwkit_image: OUTPUT '${arg_OUTPUT}' of TARGET '${exe}' is made already "
                        "by an earlier fwkit_image (target ${name})")
  endif()

  # A rule of its own rather than a POST_BUILD step: the output is a file the build knows, made
  # again when it is missing or older than the executable, and removed by clean.
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND $<TARGET_FILE:fwkit::zorbin> ${arg_OPTIONS} -${word} $<TARGET_FILE:${exe}> ${out}
    DEPENDS ${exe} $<TARGET_FILE:fwkit::zorbin> ${depends}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    COMMENT "fwkit_image: ${arg_OUTPUT} from ${exe} (zorbin -${word})"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${out})
endfunction()
