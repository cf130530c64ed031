# Install rules: the programs (component runtime) and the library package (component dev).
# Every destination is relative to the prefix, so `cmake --install --prefix P` and DESTDIR both apply.
include(CMakePackageConfigHelpers)

set(PLISTABLE_BASH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/bash-completion/completions"
  CACHE STRING "Where bash-completion finds completions, relative to the prefix")
# Debian's zsh reads packages' completions from /usr/share/zsh/vendor-completions, local ones from
# site-functions; empty means "choose by the prefix", worked out on every configure.
set(PLISTABLE_ZSH_COMPLETION_DIR "" CACHE STRING "Where zsh finds completions, relative to the prefix (empty: by prefix)")
if(PLISTABLE_ZSH_COMPLETION_DIR)
  set(plistable_zsh_dir "${PLISTABLE_ZSH_COMPLETION_DIR}")
elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(plistable_zsh_dir "${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions")
else()
  set(plistable_zsh_dir "${CMAKE_INSTALL_DATADIR}/zsh/site-functions")
endif()
set(PLISTABLE_FISH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d"
  CACHE STRING "Where fish finds completions, relative to the prefix")

set(PLISTABLE_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/plistable")

# Manual pages, completions and documents go with the programs.
install(FILES man/plistable.1 DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT runtime)
install(FILES completions/plistable.bash DESTINATION "${PLISTABLE_BASH_COMPLETION_DIR}"
  RENAME plistable COMPONENT runtime)
install(FILES completions/_plistable DESTINATION "${plistable_zsh_dir}" COMPONENT runtime)
install(FILES completions/plistable.fish DESTINATION "${PLISTABLE_FISH_COMPLETION_DIR}" COMPONENT runtime)
if(PLISTABLE_BUILD_GUI)
  install(FILES man/plistable-gui.1 DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT gui)
  # bash-completion loads a file named after the command; one file completes both programs.
  install(FILES completions/plistable.bash DESTINATION "${PLISTABLE_BASH_COMPLETION_DIR}"
    RENAME plistable-gui COMPONENT gui)
  install(FILES completions/plistable-gui.fish DESTINATION "${PLISTABLE_FISH_COMPLETION_DIR}" COMPONENT gui)
endif()
install(FILES README.md CHANGELOG.md LICENSE DESTINATION "${PLISTABLE_DOC_DIR}" COMPONENT runtime)

# Each Debian package's own /usr/share/doc/<package>: the licence in Debian's machine-readable copyright
# format and the changelog, compressed as Debian policy asks.
file(READ LICENSE plistable_license)
string(REGEX REPLACE "\n+$" "" plistable_license "${plistable_license}")
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" plistable_holder "${plistable_license}")
set(plistable_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n\n" "\n.\n" plistable_license_body "${plistable_license}")
string(REGEX REPLACE "\n" "\n " plistable_license_body "${plistable_license_body}")
file(WRITE "${PROJECT_BINARY_DIR}/debian/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: plistable\n"
  "Upstream-Contact: plistable maintainers <plistable@localhost>\n"
  "\n"
  "Files: *\n"
  "Copyright: ${plistable_holder}\n"
  "License: Expat\n"
  " ${plistable_license_body}\n")
file(ARCHIVE_CREATE OUTPUT "${PROJECT_BINARY_DIR}/debian/changelog.gz" PATHS "${PROJECT_SOURCE_DIR}/CHANGELOG.md"
  FORMAT raw COMPRESSION GZip)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/CHANGELOG.md")
set(plistable_doc_packages runtime plistable dev libplistable-dev)
if(PLISTABLE_BUILD_GUI)
  list(APPEND plistable_doc_packages gui plistable-gui)
endif()
while(plistable_doc_packages)
  list(POP_FRONT plistable_doc_packages component package)
  install(FILES "${PROJECT_BINARY_DIR}/debian/copyright" "${PROJECT_BINARY_DIR}/debian/changelog.gz"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${package}" COMPONENT ${component})
endwhile()

# The library: archive or shared object, headers (installed from src/core), CMake package, pkg-config file.
install(TARGETS plistable_core EXPORT plistableTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT dev
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime)

set(PLISTABLE_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/plistable")
install(EXPORT plistableTargets NAMESPACE plistable:: DESTINATION "${PLISTABLE_CMAKE_DIR}" COMPONENT dev)
configure_package_config_file(cmake/plistableConfig.cmake.in
  "${PROJECT_BINARY_DIR}/plistableConfig.cmake" INSTALL_DESTINATION "${PLISTABLE_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/plistableConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/plistableConfig.cmake" "${PROJECT_BINARY_DIR}/plistableConfigVersion.cmake"
  DESTINATION "${PLISTABLE_CMAKE_DIR}" COMPONENT dev)

# pkg-config paths: the prefix is found from the .pc file's own folder, so a tree installed with DESTDIR
# or moved elsewhere still gives the right flags; absolute install dirs are used as they are.
file(RELATIVE_PATH PLISTABLE_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
set(PLISTABLE_PC_PREFIX "\${pcfiledir}/${PLISTABLE_PC_UP}")
string(REGEX REPLACE "/$" "" PLISTABLE_PC_PREFIX "${PLISTABLE_PC_PREFIX}")
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(PLISTABLE_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(PLISTABLE_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
# A static archive needs ICU and expat at every link, so they are plain Requires there (pkg-config --libs
# leaves out Requires.private unless --static); the shared object records them itself.
if(BUILD_SHARED_LIBS)
  set(PLISTABLE_PC_REQUIRES "Requires.private")
  set(PLISTABLE_PC_LIBS_PRIVATE "")
else()
  set(PLISTABLE_PC_REQUIRES "Requires")
  set(PLISTABLE_PC_LIBS_PRIVATE "-lstdc++")
endif()
configure_file(cmake/plistable.pc.in "${PROJECT_BINARY_DIR}/plistable.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/plistable.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT dev)
