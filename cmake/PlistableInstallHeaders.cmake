# Run at install time (see src/core/CMakeLists.txt): installs the public headers under
# <includedir>/plistable/core/, each including the others as "plistable/core/...", so that a user's
# include path needs only <includedir> and no bare "core/" folder is reachable from it.
# In: PLISTABLE_HEADER_SOURCE_DIR, PLISTABLE_HEADER_STAGE_DIR, PLISTABLE_HEADERS (paths relative to
# the source folder), PLISTABLE_HEADER_DESTINATION (relative to the prefix, or absolute).
if(IS_ABSOLUTE "${PLISTABLE_HEADER_DESTINATION}")
  set(destination "${PLISTABLE_HEADER_DESTINATION}")
else()
  set(destination "${CMAKE_INSTALL_PREFIX}/${PLISTABLE_HEADER_DESTINATION}")
endif()
foreach(header IN LISTS PLISTABLE_HEADERS)
  file(READ "${PLISTABLE_HEADER_SOURCE_DIR}/${header}" text)
  string(REPLACE "#include \"core/" "#include \"plistable/core/" text "${text}")
  set(staged "${PLISTABLE_HEADER_STAGE_DIR}/${header}")
  file(WRITE "${staged}" "${text}")
  get_filename_component(folder "${header}" DIRECTORY)
  file(INSTALL DESTINATION "${destination}/${folder}" TYPE FILE FILES "${staged}")
endforeach()
