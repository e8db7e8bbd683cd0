# What the Debian package carries beside the programs, as Debian wants it: the
# manual pages and the changelog compressed with gzip -9n (no name, no time
# stamp, so the package is the same from build to build), and the licence as
# a machine-readable copyright file. Included by the top CMakeLists.txt after
# cpack.cmake, whose contact the copyright file names.
find_program(TARNWICK_GZIP gzip REQUIRED)
set(docs_dir ${PROJECT_BINARY_DIR}/packaging)

# tarnwick_gzip(SOURCE NAME): SOURCE compressed into docs_dir/NAME.gz, whose
# path is appended to docs_gzipped. gzip replaces the copy by its .gz.
set(docs_gzipped "")
function(tarnwick_gzip source name)
  set(copy ${docs_dir}/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${TARNWICK_GZIP} -9nf ${copy}
    DEPENDS ${source}
    VERBATIM)
  set(docs_gzipped ${docs_gzipped} ${copy}.gz PARENT_SCOPE)
endfunction()

foreach(page tarnwick-update tarnwick-kit tarnwick-target)
  tarnwick_gzip(${PROJECT_SOURCE_DIR}/doc/man/${page}.1 ${page}.1)
  install(FILES ${docs_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
tarnwick_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog changelog)
install(FILES ${docs_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
add_custom_target(tarnwick_docs ALL DEPENDS ${docs_gzipped})

# The copyright file from LICENSE: its copyright line becomes the Copyright
# field, the permission text below it the licence paragraph, indented by one
# space with "." for an empty line.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+[^\n])\n*$")
  message(FATAL_ERROR "LICENSE: no 'Copyright (c) ...' line followed by the licence text")
endif()
set(licence_holder ${CMAKE_MATCH_1})
string(REPLACE "\n\n" "\n.\n" licence_text "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " licence_text " ${licence_text}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${docs_dir}/copyright @ONLY)
install(FILES ${docs_dir}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
