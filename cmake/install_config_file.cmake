# One configuration file at install time (included by the install code that
# ps2link_install_config() writes, see install_config.cmake): installed
# where none is or where it is the same, else beside it as NAME.new.
set(ps2link_config_target "$ENV{DESTDIR}${ps2link_config_dir}/${ps2link_config_name}")
set(ps2link_config_as "${ps2link_config_name}")
if(EXISTS "${ps2link_config_target}")
  file(SHA256 "${ps2link_config_source}" ps2link_config_new)
  file(SHA256 "${ps2link_config_target}" ps2link_config_old)
  if(NOT ps2link_config_new STREQUAL ps2link_config_old)
    set(ps2link_config_as "${ps2link_config_name}.new")
    message(STATUS "Kept: ${ps2link_config_target} (changed there); "
                   "the new one is ${ps2link_config_target}.new")
  endif()
endif()
file(INSTALL DESTINATION "${ps2link_config_dir}" TYPE FILE
     RENAME "${ps2link_config_as}" FILES "${ps2link_config_source}")
