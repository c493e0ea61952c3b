# The sanitizer builds' suppressions: one set for the whole tree,
# tools/sanitizers/lsan.supp and tsan.supp (third-party code only, each entry
# explained there). They are compiled into every program, test program and
# benchmark that vexa_add_module makes, through the sanitizers'
# default-suppression hooks, so that a program reports the same however it
# is started (ctest, by hand, as a test's child). A suppressions file given
# in LSAN_OPTIONS / TSAN_OPTIONS adds to them.
if(VEXA_SANITIZE)
  set(_supp "${PROJECT_SOURCE_DIR}/tools/sanitizers")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_supp}/lsan.supp" "${_supp}/tsan.supp")
  file(READ "${_supp}/lsan.supp" _lsan)
  file(READ "${_supp}/tsan.supp" _tsan)
  set(_source "${CMAKE_BINARY_DIR}/VexaSanitizerSuppressions.cpp")
  # written beside and copied, so that an unchanged set rebuilds nothing
  file(WRITE "${_source}.in"
    "// Generated from tools/sanitizers/lsan.supp and tsan.supp: do not edit.\n"
    "extern \"C\" const char *__lsan_default_suppressions() { return R\"supp(${_lsan})supp\"; }\n"
    "extern \"C\" const char *__tsan_default_suppressions() { return R\"supp(${_tsan})supp\"; }\n")
  configure_file("${_source}.in" "${_source}" COPYONLY)
  add_library(VexaSanitizerSuppressions OBJECT "${_source}")
endif()
