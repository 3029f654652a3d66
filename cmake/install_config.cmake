# Configuration files (the daemon's options, the key maps) are edited on the
# machine they are installed on, so an install never replaces one: it puts
# the file in place only where none is yet, leaves an identical one alone,
# and otherwise lays the new one beside the edited one as FILE.new and says
# so, as distribution packages treat configuration.
#
#   ps2link_install_config(SOURCE DESTINATION NAME)
# installs SOURCE as DESTINATION/NAME (under DESTDIR) that way.
include_guard(GLOBAL)

function(ps2link_install_config source destination name)
  install(CODE "
    set(ps2link_config_source \"${source}\")
    set(ps2link_config_dir \"${destination}\")
    set(ps2link_config_name \"${name}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/install_config_file.cmake\")
  ")
endfunction()
