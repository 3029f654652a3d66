# At install time (the install code of dist/CMakeLists.txt includes this,
# with the installed paths set): the init script, the unit and the install
# note, from ps2link_dist_in to ps2link_dist_out.
#
# INSTALL.in holds the text of every kind of install. A part that belongs
# to one kind only stands between a line "@KIND" and a line "@end" (KIND:
# bundle, host, tools); the kinds in ps2link_note_blocks keep theirs, the
# others' parts go. Blocks do not nest, and hold no @ but in @NAME@.
foreach(file ps2linkd.init ps2linkd.service)
  configure_file("${ps2link_dist_in}/${file}.in" "${ps2link_dist_out}/${file}" @ONLY)
endforeach()

file(READ "${ps2link_dist_in}/INSTALL.in" ps2link_note)
foreach(kind bundle host tools)
  set(block "@${kind}\n(([^@]|@[A-Z0-9_]+@)*)@end\n")
  list(FIND ps2link_note_blocks ${kind} kept) # install scripts know no IN_LIST
  if(NOT kept EQUAL -1)
    string(REGEX REPLACE "${block}" "\\1" ps2link_note "${ps2link_note}")
  else()
    string(REGEX REPLACE "${block}" "" ps2link_note "${ps2link_note}")
  endif()
endforeach()
string(CONFIGURE "${ps2link_note}" ps2link_note @ONLY)
file(WRITE "${ps2link_dist_out}/INSTALL" "${ps2link_note}")
