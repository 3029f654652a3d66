# One configuration file at install time (included by the install code that
# ps2link_install_config() writes, see install_config.cmake): installed
# where none is or where it is the same, else beside it as NAME.new; the
# path it went to and its source are noted for make uninstall.
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
file(INSTALL DESTINATION "${ps2link_config_dir}" TYPE ${ps2link_config_type}
     RENAME "${ps2link_config_as}" FILES "${ps2link_config_source}")

# One line per installed path: PATH (without DESTDIR, as in the install
# manifest), a tab, SOURCE; the same line once.
set(ps2link_config_entry "${ps2link_config_dir}/${ps2link_config_as}\t${ps2link_config_source}")
set(ps2link_config_entries "")
if(EXISTS "${ps2link_config_record}")
  file(STRINGS "${ps2link_config_record}" ps2link_config_entries)
endif()
# (install scripts run without the project's policies: no IN_LIST)
list(FIND ps2link_config_entries "${ps2link_config_entry}" ps2link_config_found)
if(ps2link_config_found EQUAL -1)
  file(APPEND "${ps2link_config_record}" "${ps2link_config_entry}\n")
endif()
