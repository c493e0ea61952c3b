#ifndef vexaCallbackFromGUIThread_h
#define vexaCallbackFromGUIThread_h

#include "VexaCoreExports.h"

#include <itkCommand.h>
#include <itkEventObject.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

namespace vexa
{
  /**
   * Runs commands on the GUI thread on behalf of other threads.
   *
   * Any thread may post; posting never blocks and never runs the command on
   * the caller's thread. Posted commands run in FIFO order on the thread that
   * processes them: the GUI thread, woken by the installed backend (the Qt
   * backend of VexaCoreQt posts to the Qt event loop), or whoever calls
   * ProcessPendingCalls() where there is no event loop (tests, programs).
   */
  class VEXACORE_EXPORT CallbackFromGUIThread
  {
  public:
    /** Wakes the GUI thread so that it calls ProcessPendingCalls(). */
    class Backend
    {
    public:
      virtual ~Backend() = default;
      /** Called on the posting thread, with no lock held. Must not block. */
      virtual void Wake() = 0;
    };

    static CallbackFromGUIThread *GetInstance();

    /**
     * Posts command->Execute(nullptr, *event) (an itk::AnyEvent when event is
     * null). The command is kept alive until it ran or was cancelled; the
     * event is taken over and deleted after the call.
     */
    void CallThisFromGUIThread(itk::Command *command, itk::EventObject *event = nullptr);

    /** Drops every pending call of this command (an owner going away). Returns how many. */
    std::size_t CancelCallsOf(const itk::Command *command);

    /**
     * Runs the calls pending now, in order; calls posted meanwhile wait for the
     * next round. Exceptions of a command are logged and do not stop the
     * others. Returns the number of commands run.
     */
    std::size_t ProcessPendingCalls();

    std::size_t GetNumberOfPendingCalls() const;

    /** Installs (or with null removes) the backend. The caller keeps ownership. */
    void SetBackend(Backend *backend);

  private:
    CallbackFromGUIThread() = default;

    struct Call
    {
      itk::Command::Pointer command;
      std::unique_ptr<itk::EventObject> event;
    };

    mutable std::mutex m_Mutex;
    std::deque<Call> m_Pending;
    Backend *m_Backend = nullptr;
  };
}

#endif
