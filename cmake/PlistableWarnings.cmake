# Warnings for our own targets only; linked PRIVATE so dependencies and consumers keep their flags.
add_library(plistable_warnings INTERFACE)
target_compile_options(plistable_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(PLISTABLE_WERROR)
  target_compile_options(plistable_warnings INTERFACE -Werror)
endif()
# GCC 12 reports -Wrestrict for plain std::string concatenations when optimising (GCC bug 105651, fixed in 13):
# a false alarm that would fail the Release build under -Werror.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(plistable_warnings INTERFACE -Wno-restrict)
endif()
