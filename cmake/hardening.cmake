# The hardening flags Debian builds its own programs with (dpkg-buildflags), for the
# optimised Linux builds (Release, RelWithDebInfo) of every target:
#   -D_FORTIFY_SOURCE=2        the C library's checked string and memory functions where a
#                              buffer's size is known at compile time; -U first, because some
#                              compilers already define another level and would warn
#   -fstack-protector-strong   a canary in every function with an array or address-taken local
#   -Wformat -Werror=format-security   a printf-style call with a non-literal format and no
#                              arguments is an error
#   -z relro -z now            every library symbol resolved at start-up, then the tables it
#                              filled made read-only (full RELRO)
# Left out: the Windows cross-build (another C library and linker) and the sanitizer and fuzz
# builds, whose instrumentation does these checks its own way; and Debug builds, where
# _FORTIFY_SOURCE needs an optimiser to see buffer sizes.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT TABLADEX_SANITIZE AND NOT TABLADEX_FUZZ)
  set(optimised "$<CONFIG:Release,RelWithDebInfo>")
  set(c_or_cxx "$<COMPILE_LANGUAGE:C,CXX>")
  add_compile_options(
    "$<$<AND:${optimised},${c_or_cxx}>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>"
    "$<$<AND:${optimised},${c_or_cxx}>:-fstack-protector-strong>"
    "$<$<AND:${optimised},${c_or_cxx}>:-Wformat;-Werror=format-security>")
  add_link_options("$<${optimised}:-Wl,-z,relro;-Wl,-z,now>")
  unset(optimised)
  unset(c_or_cxx)
endif()
