# Configuration files (the daemon's options, the key maps, the init script)
# are edited on the machine they are installed on, so an install never
# replaces one: it puts the file in place only where none is yet, leaves an
# identical one alone, and otherwise lays the new one beside the edited one
# as FILE.new and says so, as distribution packages treat configuration.
# Each is noted with its source in the build tree, so that make uninstall
# (cmake/uninstall.cmake) can tell one edited since and keep it.
#
#   ps2link_install_config(SOURCE DESTINATION NAME [PROGRAM])
# installs SOURCE as DESTINATION/NAME (under DESTDIR) that way; PROGRAM
# makes it executable.
include_guard(GLOBAL)

function(ps2link_install_config source destination name)
  set(type FILE)
  if(ARGN STREQUAL "PROGRAM")
    set(type PROGRAM)
  endif()
  install(CODE "
    set(ps2link_config_source \"${source}\")
    set(ps2link_config_dir \"${destination}\")
    set(ps2link_config_name \"${name}\")
    set(ps2link_config_type ${type})
    set(ps2link_config_record \"${PROJECT_BINARY_DIR}/install_config_sources.txt\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/install_config_file.cmake\")
  ")
endfunction()
