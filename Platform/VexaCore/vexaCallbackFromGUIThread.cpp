#include "vexaCallbackFromGUIThread.h"

#include <vexaLog.h>

#include <exception>

vexa::CallbackFromGUIThread *vexa::CallbackFromGUIThread::GetInstance()
{
  static CallbackFromGUIThread instance;
  return &instance;
}

void vexa::CallbackFromGUIThread::CallThisFromGUIThread(itk::Command *command, itk::EventObject *event)
{
  std::unique_ptr<itk::EventObject> owned(event);
  if (!command)
    return;
  Backend *backend = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Pending.push_back(Call{command, std::move(owned)});
    backend = m_Backend;
  }
  if (backend)
    backend->Wake();
}

std::size_t vexa::CallbackFromGUIThread::CancelCallsOf(const itk::Command *command)
{
  std::deque<Call> dropped;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (auto it = m_Pending.begin(); it != m_Pending.end();)
    {
      if (it->command.GetPointer() == command)
      {
        dropped.push_back(std::move(*it));
        it = m_Pending.erase(it);
      }
      else
        ++it;
    }
  }
  // the dropped commands are released here, outside the lock
  return dropped.size();
}

std::size_t vexa::CallbackFromGUIThread::ProcessPendingCalls()
{
  std::size_t count;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    count = m_Pending.size();
  }
  std::size_t ran = 0;
  for (std::size_t i = 0; i < count; ++i)
  {
    Call call;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (m_Pending.empty())
        break;
      call = std::move(m_Pending.front());
      m_Pending.pop_front();
    }
    try
    {
      if (call.event)
        call.command->Execute(static_cast<itk::Object *>(nullptr), *call.event);
      else
        call.command->Execute(static_cast<itk::Object *>(nullptr), itk::AnyEvent());
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("CallbackFromGUIThread") << "A command posted to the GUI thread failed: " << e.what();
    }
    catch (...)
    {
      VEXA_ERROR("CallbackFromGUIThread") << "A command posted to the GUI thread failed.";
    }
    ++ran;
  }
  return ran;
}

std::size_t vexa::CallbackFromGUIThread::GetNumberOfPendingCalls() const
{
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Pending.size();
}

void vexa::CallbackFromGUIThread::SetBackend(Backend *backend)
{
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Backend = backend;
}
