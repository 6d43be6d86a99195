# Run by CPack on the staged tree before it is packed: strips the programs
# as Debian's own packaging does (debug symbols, and the .comment and .note
# sections that only tell how they were built).
foreach(program IN LISTS CPACK_ZENTREL_PROGRAMS)
  execute_process(COMMAND strip --strip-unneeded --remove-section=.comment --remove-section=.note
                          "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_ZENTREL_PROGRAM_DIR}/${program}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
