# Install layout. The programs read config.txt from the folder of the real
# program file, so all three live together with it in one private folder,
# and bin/ holds relative links to them (relative, so that a DESTDIR staging
# tree or a moved prefix still points inside itself).

set(ZENTREL_PROGRAM_DIR lib/quorvel-zentrel)
set(ZENTREL_DATA_DIR share/quorvel-zentrel)
set(ZENTREL_DOC_DIR share/doc/quorvel-zentrel)
set(ZENTREL_PROGRAMS zentrel zentrel-cli zentrel-sim)
set(ZENTREL_APPSTREAM_ID invalid.quorvel_zentrel.Zentrel)

# Two packages: the window and the CLI (main), and the simulator with the
# bootloader firmware (sim), which alone needs gpsim and, through it, GTK.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME main)
set(ZENTREL_SIM_DOC_DIR share/doc/quorvel-zentrel-sim)
# The component of each program.
function(zentrel_component program var)
  if(program STREQUAL "zentrel-sim")
    set(${var} sim PARENT_SCOPE)
  else()
    set(${var} main PARENT_SCOPE)
  endif()
endfunction()

# "cmake --install" builds what it installs first, so that it works after a
# build of only some targets and never leaves half a tree behind. Whatever
# is built for installing joins zentrel_installed.
add_custom_target(zentrel_installed)
add_dependencies(zentrel_installed ${ZENTREL_PROGRAMS} zentrel_firmware)
install(CODE "
  execute_process(COMMAND \"${CMAKE_COMMAND}\" --build \"${CMAKE_BINARY_DIR}\" --target zentrel_installed
                  RESULT_VARIABLE zentrel_built)
  if(NOT zentrel_built EQUAL 0)
    message(FATAL_ERROR \"Building what is installed failed; nothing was installed.\")
  endif()")

# Empty: config.txt is a plain file beside the programs. An absolute folder
# (the Debian package uses /etc/quorvel-zentrel): config.txt is installed
# there, where edits survive upgrades, and the program folder links to it.
set(ZENTREL_CONFIG_DIR "" CACHE STRING "Absolute folder for the installed config.txt (empty: beside the programs)")

# Links are made once here and installed as links by install(FILES).
set(_zentrel_links ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${_zentrel_links}/bin ${_zentrel_links}/program)
foreach(program IN LISTS ZENTREL_PROGRAMS)
  zentrel_component(${program} component)
  install(TARGETS ${program} RUNTIME DESTINATION ${ZENTREL_PROGRAM_DIR} COMPONENT ${component})
  file(CREATE_LINK ../${ZENTREL_PROGRAM_DIR}/${program} ${_zentrel_links}/bin/${program} SYMBOLIC)
  install(FILES ${_zentrel_links}/bin/${program} DESTINATION bin COMPONENT ${component})
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
install(FILES dist/quorvel-zentrel.metainfo.xml DESTINATION share/metainfo
        RENAME ${ZENTREL_APPSTREAM_ID}.metainfo.xml)
install(FILES dist/quorvel-zentrel-mime.xml DESTINATION share/mime/packages RENAME quorvel-zentrel.xml)
install(FILES dist/60-quorvel-zentrel.rules DESTINATION lib/udev/rules.d)
install(FILES dist/zentrel-station@.service DESTINATION lib/systemd/system)
install(FILES dist/station-example.conf DESTINATION ${ZENTREL_DOC_DIR}/examples RENAME bench1.conf)
foreach(program zentrel-cli zentrel-sim)
  zentrel_component(${program} component)
  install(FILES dist/completion/zentrel DESTINATION share/bash-completion/completions RENAME ${program}
          COMPONENT ${component})
endforeach()
install(DIRECTORY devices/ DESTINATION ${ZENTREL_DATA_DIR}/devices PATTERN README EXCLUDE)
install(FILES devices/README DESTINATION ${ZENTREL_DOC_DIR} RENAME README.devices)
# The samples with the config.txt they are built for, so that the chip demo
# of the README runs from an installed copy too.
file(GLOB _zentrel_samples ${CMAKE_SOURCE_DIR}/samples/*.hex ${CMAKE_SOURCE_DIR}/samples/*.asm)
install(FILES ${_zentrel_samples} samples/config.txt DESTINATION ${ZENTREL_DATA_DIR}/samples)
# Every bootloader that the build assembles.
install(FILES ${ZENTREL_FIRMWARE_FILES} DESTINATION ${ZENTREL_DATA_DIR}/firmware COMPONENT sim)
install(FILES dist/copyright README.md DESTINATION ${ZENTREL_DOC_DIR})
install(FILES dist/copyright DESTINATION ${ZENTREL_SIM_DOC_DIR} COMPONENT sim)
install(FILES dist/lintian-overrides DESTINATION share/lintian/overrides RENAME quorvel-zentrel)

# Manual pages and the changelog go out compressed, as Debian expects; -n
# keeps the output the same from build to build.
function(zentrel_gzip source output)
  get_filename_component(folder ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND gzip -9 -n -c ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()
set(_zentrel_man_pages)
foreach(program IN LISTS ZENTREL_PROGRAMS)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  zentrel_gzip(${CMAKE_SOURCE_DIR}/dist/man/${program}.1 ${page})
  list(APPEND _zentrel_man_pages ${page})
endforeach()
set(_zentrel_changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
zentrel_gzip(${CMAKE_SOURCE_DIR}/dist/changelog ${_zentrel_changelog})
add_custom_target(zentrel_man_pages ALL DEPENDS ${_zentrel_man_pages} ${_zentrel_changelog})
add_dependencies(zentrel_installed zentrel_man_pages)
foreach(program IN LISTS ZENTREL_PROGRAMS)
  zentrel_component(${program} component)
  install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1.gz DESTINATION share/man/man1 COMPONENT ${component})
endforeach()
install(FILES ${_zentrel_changelog} DESTINATION ${ZENTREL_DOC_DIR})
install(FILES ${_zentrel_changelog} DESTINATION ${ZENTREL_SIM_DOC_DIR} COMPONENT sim)
