#ifndef vexaSlotGuard_h
#define vexaSlotGuard_h

// The one edge guard of the system: a slot, a timer tick, a listener or a
// worker's run() hands its body to vexa::RunGuarded together with a reporter,
// and no exception leaves the edge. Each caller keeps its own texts: the
// reporter decides what is logged and how the user is told (a message box, a
// status text, a signal that a worker emits towards the GUI thread).

#include <vexaException.h>
#include <vexaLog.h>

#include <exception>
#include <string>

namespace vexa
{
  /** What a guarded body threw, in the forms the reporters need. */
  struct GuardedFailure
  {
    /** The exception's what(); empty for an exception that is no std::exception. */
    std::string what;
    /**
     * The text for a user: a vexa::Exception's description (without the
     * source position that its what() carries), otherwise what().
     */
    std::string description;
    /** Whether the body threw a vexa::Exception. */
    bool vexaException = false;
    /** False for an exception that is no std::exception (what and description are empty then). */
    bool standard = true;
  };

  /**
   * The user's text of an exception: a vexa::Exception's description, the
   * what() of any other.
   */
  inline std::string UserText(const std::exception &e)
  {
    if (const auto *ve = dynamic_cast<const vexa::Exception *>(&e))
      return ve->GetDescription();
    return e.what();
  }

  /**
   * Runs `body()`; whatever it throws is caught and handed to
   * `report(const GuardedFailure &)`. Returns true when the body returned
   * normally, false after a failure was reported.
   *
   * Runs on the caller's thread, and so does the reporter: a worker thread's
   * reporter may only do what is safe there (log, emit a queued signal). The
   * reporter's own failure (a message box that cannot be shown, a bad_alloc
   * building its text) is logged and swallowed too: the guard is the edge, so
   * nothing leaves it.
   */
  template <class Body, class Report>
  bool RunGuarded(Body &&body, Report &&report) noexcept
  {
    GuardedFailure failure;
    try
    {
      body();
      return true;
    }
    catch (const std::exception &e)
    {
      try
      {
        failure.what = e.what();
        failure.vexaException = dynamic_cast<const vexa::Exception *>(&e) != nullptr;
        failure.description = UserText(e);
      }
      catch (...)
      {
        // an empty text is still a report
      }
    }
    catch (...)
    {
      failure.standard = false;
    }
    try
    {
      report(static_cast<const GuardedFailure &>(failure));
    }
    catch (...)
    {
      try
      {
        VEXA_ERROR << "A failure could not be reported: " << failure.what;
      }
      catch (...)
      {
        // the log itself failed: nothing is left to tell
      }
    }
    return false;
  }
}

#endif
