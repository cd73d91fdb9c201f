# Warnings for our own targets only (third-party headers are included as SYSTEM).
add_library(tovi_warnings INTERFACE)
target_compile_options(tovi_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor -Wno-missing-field-initializers)
if(TOVI_WERROR)
  target_compile_options(tovi_warnings INTERFACE -Werror)
endif()
# The sanitizers' instrumentation defeats GCC's flow analysis: -Wmaybe-uninitialized
# then reports members of std::optional<std::string> and the like that are always set.
# The plain builds keep the warning.
target_compile_options(tovi_warnings INTERFACE
  $<$<OR:$<CONFIG:ASan>,$<CONFIG:TSan>>:-Wno-maybe-uninitialized>)
