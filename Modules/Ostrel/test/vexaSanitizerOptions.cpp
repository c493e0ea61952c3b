// Built into the Ostrel tests (and fuzzer) in sanitizer builds only: the
// sanitizers take their default options from here, so the suppressions (third-
// party code only, each explained in tsan.supp and lsan.supp) apply however the
// programs are started, and a report fails the test that caused it. The
// environment (TSAN_OPTIONS, LSAN_OPTIONS) still adds to these.

#ifdef OSTREL_TSAN_SUPPRESSIONS
extern "C" const char *__tsan_default_options()
{
  return "suppressions=" OSTREL_TSAN_SUPPRESSIONS " second_deadlock_stack=1 halt_on_error=1";
}
#endif

#ifdef OSTREL_LSAN_SUPPRESSIONS
extern "C" const char *__lsan_default_options()
{
  return "suppressions=" OSTREL_LSAN_SUPPRESSIONS;
}
#endif
