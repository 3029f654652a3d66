# make uninstall (cmake -D ps2link_build_dir=DIR -P uninstall.cmake):
# removes every file that the last install of that build put in place, as
# its install_manifest.txt lists them, under DESTDIR (the manifest leaves
# it out: give the install's), but a configuration file changed since it
# was installed: that one is kept and named, as distribution packages keep
# edited configuration on removal.
# Directories stay, empty or not: /etc/init.d and the like are shared.
cmake_minimum_required(VERSION 3.25)

if(NOT EXISTS "${ps2link_build_dir}/install_manifest.txt")
  message(FATAL_ERROR "Nothing to remove: ${ps2link_build_dir} has no install_manifest.txt "
                      "(it is written by make install)")
endif()
file(STRINGS "${ps2link_build_dir}/install_manifest.txt" ps2link_installed)

# Where each configuration file came from (install_config_file.cmake).
set(ps2link_record "${ps2link_build_dir}/install_config_sources.txt")
set(ps2link_entries "")
if(EXISTS "${ps2link_record}")
  file(STRINGS "${ps2link_record}" ps2link_entries)
endif()
set(ps2link_config_paths "")
set(ps2link_config_sources "")
foreach(entry IN LISTS ps2link_entries)
  string(FIND "${entry}" "\t" tab)
  string(SUBSTRING "${entry}" 0 ${tab} path)
  math(EXPR after "${tab} + 1")
  string(SUBSTRING "${entry}" ${after} -1 source)
  list(APPEND ps2link_config_paths "${path}")
  list(APPEND ps2link_config_sources "${source}")
endforeach()

foreach(installed IN LISTS ps2link_installed)
  set(path "$ENV{DESTDIR}${installed}")
  if(NOT EXISTS "${path}" AND NOT IS_SYMLINK "${path}")
    continue()
  endif()
  list(FIND ps2link_config_paths "${installed}" config)
  if(NOT config EQUAL -1)
    list(GET ps2link_config_sources ${config} source)
    file(SHA256 "${path}" installed_sum)
    set(source_sum "")
    if(EXISTS "${source}")
      file(SHA256 "${source}" source_sum)
    endif()
    if(NOT installed_sum STREQUAL source_sum)
      message(STATUS "Kept: ${path} (changed since it was installed)")
      continue()
    endif()
  endif()
  message(STATUS "Removing: ${path}")
  file(REMOVE "${path}")
endforeach()
