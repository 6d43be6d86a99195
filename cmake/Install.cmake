# Install layout. The programs read config.txt from the folder of the real
# program file, so all three live together with it in one private folder,
# and bin/ holds relative links to them (relative, so that a DESTDIR staging
# tree or a moved prefix still points inside itself).

set(ZENTREL_PROGRAM_DIR lib/quorvel-zentrel)
set(ZENTREL_DATA_DIR share/quorvel-zentrel)
set(ZENTREL_PROGRAMS zentrel zentrel-cli zentrel-sim)

# Empty: config.txt is a plain file beside the programs. An absolute folder
# (the Debian package uses /etc/quorvel-zentrel): config.txt is installed
# there, where edits survive upgrades, and the program folder links to it.
set(ZENTREL_CONFIG_DIR "" CACHE STRING "Absolute folder for the installed config.txt (empty: beside the programs)")

install(TARGETS ${ZENTREL_PROGRAMS} RUNTIME DESTINATION ${ZENTREL_PROGRAM_DIR})

# Links are made once here and installed as links by install(FILES).
set(_zentrel_links ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${_zentrel_links}/bin ${_zentrel_links}/program)
foreach(program IN LISTS ZENTREL_PROGRAMS)
  file(CREATE_LINK ../${ZENTREL_PROGRAM_DIR}/${program} ${_zentrel_links}/bin/${program} SYMBOLIC)
  install(FILES ${_zentrel_links}/bin/${program} DESTINATION bin)
endforeach()

if(ZENTREL_CONFIG_DIR)
  if(NOT IS_ABSOLUTE "${ZENTREL_CONFIG_DIR}")
    message(FATAL_ERROR "ZENTREL_CONFIG_DIR must be an absolute folder, not '${ZENTREL_CONFIG_DIR}'.")
  endif()
  install(FILES samples/config.txt DESTINATION ${ZENTREL_CONFIG_DIR})
  file(CREATE_LINK ${ZENTREL_CONFIG_DIR}/config.txt ${_zentrel_links}/program/config.txt SYMBOLIC)
  install(FILES ${_zentrel_links}/program/config.txt DESTINATION ${ZENTREL_PROGRAM_DIR})
else()
  install(FILES samples/config.txt DESTINATION ${ZENTREL_PROGRAM_DIR})
endif()

install(FILES dist/quorvel-zentrel.desktop DESTINATION share/applications)
install(FILES dist/quorvel-zentrel.svg DESTINATION share/icons/hicolor/scalable/apps)
install(DIRECTORY devices/ DESTINATION ${ZENTREL_DATA_DIR}/devices)
install(FILES samples/blink.hex samples/chase.hex DESTINATION ${ZENTREL_DATA_DIR}/samples)
install(FILES ${ZENTREL_FIRMWARE_FILES} DESTINATION ${ZENTREL_DATA_DIR}/firmware)

# Manual pages go out compressed, as Debian expects; -n keeps the output
# the same from build to build.
set(_zentrel_man_pages)
foreach(program IN LISTS ZENTREL_PROGRAMS)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/dist/man/${program}.1 > ${page}
    DEPENDS ${CMAKE_SOURCE_DIR}/dist/man/${program}.1
    VERBATIM)
  list(APPEND _zentrel_man_pages ${page})
endforeach()
add_custom_target(zentrel_man_pages ALL DEPENDS ${_zentrel_man_pages})
install(FILES ${_zentrel_man_pages} DESTINATION share/man/man1)
