// Built into the Ostrel tests only with ThreadSanitizer: the sanitizer takes
// its default options from here, so the tests find their suppressions (third-
// party code only, explained in tsan.supp) however they are started, and any
// report fails the test that caused it. TSAN_OPTIONS still adds to these.

extern "C" const char *__tsan_default_options()
{
  return "suppressions=" OSTREL_TSAN_SUPPRESSIONS " second_deadlock_stack=1 halt_on_error=1";
}
