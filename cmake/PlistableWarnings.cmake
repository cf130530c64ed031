# Warnings for our own targets only; linked PRIVATE so dependencies and consumers keep their flags.
add_library(plistable_warnings INTERFACE)
target_compile_options(plistable_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(PLISTABLE_WERROR)
  target_compile_options(plistable_warnings INTERFACE -Werror)
endif()
