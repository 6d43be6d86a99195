# Run by CPack on the staged tree before it is packed: strips the programs
# as Debian's own packaging does (debug symbols, and the .comment and .note
# sections that only tell how they were built).
# Each package is staged in a folder of its own: strip what each holds.
foreach(program IN LISTS CPACK_ZENTREL_PROGRAMS)
  file(GLOB_RECURSE staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${program}")
  set(found FALSE)
  foreach(file IN LISTS staged)
    if(file MATCHES "/${CPACK_ZENTREL_PROGRAM_DIR}/${program}$" AND NOT IS_SYMLINK "${file}")
      execute_process(COMMAND strip --strip-unneeded --remove-section=.comment --remove-section=.note "${file}"
                      COMMAND_ERROR_IS_FATAL ANY)
      set(found TRUE)
    endif()
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "${program} is in no staged package")
  endif()
endforeach()
