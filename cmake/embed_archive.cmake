# orvane_embed_archive: builds an executable that carries a zip archive as its embedded
# "RT_ZIP" 777 archive, which ZipArchive::OpenResource(L"RT_ZIP", ResourceId(777)) then opens.
#
#   orvane_embed_archive(TARGET <new executable>
#                        FROM <existing executable target>        # same sources and settings
#                        | SOURCES <source...> [LIBS <library...>]
#                        ZIP <zip file>                           # absolute, or relative to the
#                                                                 # current binary folder
#                        [DEPENDS <target or file...>])           # what makes the zip
#
# The new executable is built from the FROM target's sources, link libraries, include folders,
# compile definitions and options, link options and WIN32_EXECUTABLE setting (FROM must be
# defined before the call), or from SOURCES and LIBS. Changing the zip rebuilds it.
#   Windows: the zip is compiled in by windres from an .rc line `777 RT_ZIP "<zip>"`.
#   POSIX:   after linking, `orvane-zip pack` appends the zip and the 24-byte trailer of
#            amzip/embedded.h to the program (in a cross build, under its emulator).
# A zip made by a custom command in the same folder can be given as ZIP directly; one made
# elsewhere needs its target in DEPENDS. Example, for the demo launcher:
#
#   add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/demo.zip
#     COMMAND ${CMAKE_COMMAND} -E tar cf ${CMAKE_CURRENT_BINARY_DIR}/demo.zip --format=zip .
#     WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/examples/demo)
#   orvane_embed_archive(TARGET orvane-demo FROM orvane ZIP ${CMAKE_CURRENT_BINARY_DIR}/demo.zip)
function(orvane_embed_archive)
  cmake_parse_arguments(E "" "TARGET;FROM;ZIP" "SOURCES;LIBS;DEPENDS" ${ARGN})
  if(NOT E_TARGET OR NOT E_ZIP OR (NOT E_FROM AND NOT E_SOURCES))
    message(FATAL_ERROR "orvane_embed_archive: TARGET, ZIP and FROM or SOURCES are required")
  endif()
  get_filename_component(zip "${E_ZIP}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})

  if(E_FROM)
    get_target_property(from_dir ${E_FROM} SOURCE_DIR)
    get_target_property(from_binary_dir ${E_FROM} BINARY_DIR)
    get_target_property(from_sources ${E_FROM} SOURCES)
    set(sources)
    foreach(source IN LISTS from_sources)
      if(IS_ABSOLUTE "${source}" OR source MATCHES "^\\$<")
        list(APPEND sources "${source}")
      elseif(EXISTS "${from_dir}/${source}")
        list(APPEND sources "${from_dir}/${source}")
      else()
        list(APPEND sources "${from_binary_dir}/${source}")
      endif()
    endforeach()
    add_executable(${E_TARGET} ${sources})
    foreach(property LINK_LIBRARIES INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS LINK_OPTIONS
                     COMPILE_FEATURES WIN32_EXECUTABLE)
      get_target_property(value ${E_FROM} ${property})
      if(NOT value STREQUAL "value-NOTFOUND")
        set_property(TARGET ${E_TARGET} PROPERTY ${property} "${value}")
      endif()
    endforeach()
  else()
    add_executable(${E_TARGET} ${E_SOURCES})
    target_link_libraries(${E_TARGET} PRIVATE ${E_LIBS})
  endif()

  # The zip (and whatever makes it) is ready before the program is built.
  add_custom_target(${E_TARGET}_archive DEPENDS "${zip}" ${E_DEPENDS})
  add_dependencies(${E_TARGET} ${E_TARGET}_archive)

  if(WIN32)
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${E_TARGET}_archive.rc")
    set(object "${CMAKE_CURRENT_BINARY_DIR}/${E_TARGET}_archive.rc.o")
    file(WRITE "${rc}.in" "777 RT_ZIP \"${zip}\"\n")
    configure_file("${rc}.in" "${rc}" COPYONLY)
    add_custom_command(OUTPUT "${object}"
      COMMAND ${CMAKE_RC_COMPILER} -O coff -i "${rc}" -o "${object}"
      DEPENDS "${rc}" "${zip}" ${E_DEPENDS}
      COMMENT "Embedding ${zip} in ${E_TARGET} as RT_ZIP 777"
      VERBATIM)
    target_sources(${E_TARGET} PRIVATE "${object}")
  else()
    # orvane-zip pack refuses a program without the launcher's mark.
    target_link_libraries(${E_TARGET} PRIVATE orvane_launcher_mark)
    set_property(TARGET ${E_TARGET} APPEND PROPERTY LINK_DEPENDS "${zip}")
    add_dependencies(${E_TARGET} orvane-zip)
    add_custom_command(TARGET ${E_TARGET} POST_BUILD
      COMMAND orvane-zip pack "${zip}" -o $<TARGET_FILE:${E_TARGET}>
              --launcher $<TARGET_FILE:${E_TARGET}>
      COMMENT "Appending ${zip} to ${E_TARGET}"
      VERBATIM)
  endif()
endfunction()
