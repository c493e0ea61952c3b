#include "vexaRenderingManager.h"

#include "vexaCallbackFromGUIThread.h"

#include <vexaLog.h>

#include <algorithm>
#include <exception>

namespace vexa
{
  RenderingManager *RenderingManager::GetInstance()
  {
    // made once and never destroyed: windows and posted calls may outlive static destruction order
    static RenderingManager *const instance = [] {
      auto *manager = new RenderingManager;
      manager->Register();
      return manager;
    }();
    return instance;
  }

  RenderingManager::RenderingManager() : m_Command(itk::SimpleMemberCommand<RenderingManager>::New())
  {
    m_Command->SetCallbackFunction(this, &RenderingManager::RunPendingRequests);
  }

  RenderingManager::~RenderingManager() = default;

  bool RenderingManager::Matches(const RenderWindow *window, RequestType type)
  {
    switch (type)
    {
      case REQUEST_UPDATE_2DWINDOWS:
        return !window->Is3D();
      case REQUEST_UPDATE_3DWINDOWS:
        return window->Is3D();
      default:
        return true;
    }
  }

  void RenderingManager::ScheduleLocked()
  {
    if (m_Scheduled)
      return;
    m_Scheduled = true;
    CallbackFromGUIThread::GetInstance()->CallThisFromGUIThread(m_Command);
  }

  void RenderingManager::AddRenderWindow(RenderWindow *window)
  {
    if (!window)
      return;
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (const WindowState &state : m_Windows)
      if (state.window == window)
        return;
    WindowState state;
    state.window = window;
    state.repaint = true;
    m_Windows.push_back(state);
    ScheduleLocked();
  }

  void RenderingManager::RemoveRenderWindow(RenderWindow *window)
  {
    BaseGeometry::Pointer released;
    std::lock_guard<std::mutex> lock(m_Mutex);
    const auto it = std::find_if(m_Windows.begin(), m_Windows.end(),
                                 [window](const WindowState &state) { return state.window == window; });
    if (it != m_Windows.end())
    {
      released = it->geometry;
      m_Windows.erase(it);
    }
  }

  std::vector<RenderingManager::RenderWindow *> RenderingManager::GetAllRegisteredRenderWindows() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    std::vector<RenderWindow *> windows;
    for (const WindowState &state : m_Windows)
      windows.push_back(state.window);
    return windows;
  }

  void RenderingManager::RequestUpdate(RenderWindow *window)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (WindowState &state : m_Windows)
      if (state.window == window)
      {
        state.repaint = true;
        ScheduleLocked();
      }
  }

  void RenderingManager::RequestUpdateAll(RequestType type)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (WindowState &state : m_Windows)
      if (Matches(state.window, type))
      {
        state.repaint = true;
        ScheduleLocked();
      }
  }

  bool RenderingManager::FitViewsToGeometry(const BaseGeometry *geometry, RequestType type, bool)
  {
    if (!geometry)
      return false;
    // a copy: the caller's geometry may change or go before the GUI thread fits to it
    const BaseGeometry::Pointer own = geometry->Clone();
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (WindowState &state : m_Windows)
      if (Matches(state.window, type))
      {
        state.fit = true;
        state.repaint = true;
        state.geometry = own;
        ScheduleLocked();
      }
    return true;
  }

  bool RenderingManager::FitViewsToGeometry(const TimeGeometry *geometry, RequestType type, bool resetCamera)
  {
    if (!geometry || !geometry->IsValid())
      return false;
    const BaseGeometry::Pointer first = geometry->GetGeometryForTimeStep(0);
    return FitViewsToGeometry(first.GetPointer(), type, resetCamera);
  }

  void RenderingManager::RunPendingRequests() { ExecutePendingRequests(); }

  std::size_t RenderingManager::ExecutePendingRequests()
  {
    std::vector<WindowState> due;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Scheduled = false;
      for (WindowState &state : m_Windows)
        if (state.repaint)
        {
          due.push_back(state);
          state.repaint = false;
          state.fit = false;
          state.geometry = nullptr;
        }
    }
    std::size_t repainted = 0;
    for (const WindowState &state : due)
    {
      {
        // a window removed by an earlier window's repaint is not called any more
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (std::none_of(m_Windows.begin(), m_Windows.end(),
                         [&state](const WindowState &s) { return s.window == state.window; }))
          continue;
      }
      try
      {
        if (state.fit)
          state.window->FitToGeometry(state.geometry);
        state.window->Repaint();
        ++repainted;
      }
      catch (const std::exception &e)
      {
        VEXA_ERROR << "A render window failed to draw: " << e.what();
      }
    }
    return repainted;
  }
}
