# The distribution's compiler and linker flags (hardening among them), as
# dpkg-buildflags gives them, for the Debian package build. Included before
# any target, so that every program and library is built with them.
option(ZENTREL_DEB_BUILDFLAGS "Compile and link with the flags of dpkg-buildflags" OFF)
if(ZENTREL_DEB_BUILDFLAGS)
  # All of the hardening, bindnow included; set here so a re-run of CMake
  # gets the same flags.
  set(ENV{DEB_BUILD_MAINT_OPTIONS} "hardening=+all")
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND dpkg-buildflags --get ${kind}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    if(kind STREQUAL "LDFLAGS")
      add_link_options(${flags})
    else()
      add_compile_options(${flags})
    endif()
  endforeach()
endif()
