# Debian packages from the install rules, split as Debian splits such a project: `cpack -G DEB` in a
# build folder makes plistable_<version>_amd64.deb (the command line: no Qt among its dependencies),
# plistable-gui_<version>_amd64.deb (the window, its desktop entry, icons, AppStream metadata; depends on
# plistable) and libplistable-dev_<version>_amd64.deb (headers, the library, CMake and pkg-config files).
set(CPACK_PACKAGE_NAME "plistable")
set(CPACK_PACKAGE_VENDOR "The plistable authors")
set(CPACK_PACKAGE_CONTACT "plistable maintainers <plistable@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(PLISTABLE_BUILD_GUI)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Dependencies are read from the binaries' shared-library needs (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME "plistable")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION "utils")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "plistable converts CSV files (UTF-8, Shift_JIS, EUC-JP, ISO-2022-JP or Mac OS Roman,\ndetected by trial decoding) into XML property lists, and XML or binary property lists\ninto CSV. This package holds the command-line tool; plistable-gui is the window.")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME "plistable-gui")
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "plistable (= ${PROJECT_VERSION})")
# The folder dialog speaks the system's language only with Qt's own translations.
set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_COMPONENT_GUI_DESCRIPTION
  "The plistable window: files dropped onto it are converted between CSV and property lists\ninto a chosen folder, as plistable convert does.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME "libplistable-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libicu-dev, libexpat1-dev, nlohmann-json3-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Headers, the plistable_core C++20 library, its CMake package (find_package(plistable))\nand pkg-config module (plistable).")
if(BUILD_SHARED_LIBS)
  string(APPEND CPACK_DEBIAN_DEV_PACKAGE_DEPENDS ", plistable (= ${PROJECT_VERSION})")
endif()

include(CPack)
