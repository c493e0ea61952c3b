#ifndef vexaRenderingManager_h
#define vexaRenderingManager_h

#include "VexaCoreExports.h"

#include "vexaBaseGeometry.h"
#include "vexaTimeGeometry.h"

#include <vexaCommon.h>

#include <itkCommand.h>
#include <itkObject.h>

#include <mutex>
#include <vector>

namespace vexa
{
  /**
   * The process-wide rendering manager: collects update and fit requests for
   * the render windows and carries them out on the GUI thread.
   *
   * Requests may come from any thread. All requests made before the GUI
   * thread gets to them are coalesced: each window is fitted at most once
   * (to the last geometry asked for) and repainted at most once per turn of
   * the GUI event loop, through vexa::CallbackFromGUIThread. Windows are
   * added, removed and called on the GUI thread only.
   *
   * There are 2-D windows only in this system; requests for 3-D windows are
   * accepted and find no window.
   */
  class VEXACORE_EXPORT RenderingManager : public itk::Object
  {
  public:
    vexaClassMacroItkParent(RenderingManager, itk::Object);

    enum RequestType
    {
      REQUEST_UPDATE_ALL = 0,
      REQUEST_UPDATE_2DWINDOWS = 1,
      REQUEST_UPDATE_3DWINDOWS = 2
    };

    /** A window the manager repaints; implemented by the GUI's render windows. */
    class RenderWindow
    {
    public:
      virtual ~RenderWindow() = default;
      virtual bool Is3D() const { return false; }
      /** Draw now (GUI thread). */
      virtual void Repaint() = 0;
      /** Show the whole of `geometry` from now on (GUI thread); null when the geometry was empty. */
      virtual void FitToGeometry(const BaseGeometry *geometry) = 0;
    };

    static RenderingManager *GetInstance();

    /** GUI thread. A window is repainted once it is added. */
    void AddRenderWindow(RenderWindow *window);
    /** GUI thread; no call reaches the window after this returns. */
    void RemoveRenderWindow(RenderWindow *window);
    std::vector<RenderWindow *> GetAllRegisteredRenderWindows() const;

    /** Any thread: repaint `window` in the next turn (ignored for a window that is not added). */
    void RequestUpdate(RenderWindow *window);
    /** Any thread: repaint the windows of `type` in the next turn. */
    void RequestUpdateAll(RequestType type = REQUEST_UPDATE_ALL);
    /** Any thread: fit the windows of `type` to `geometry`, then repaint them; false for a null geometry. */
    bool FitViewsToGeometry(const BaseGeometry *geometry,
                            RequestType type = REQUEST_UPDATE_ALL,
                            bool resetCamera = true);
    /** The same with time step 0 of a time geometry. */
    bool FitViewsToGeometry(const TimeGeometry *geometry,
                            RequestType type = REQUEST_UPDATE_ALL,
                            bool resetCamera = true);

    /** GUI thread: carries out what is pending now; returns the number of windows repainted. */
    std::size_t ExecutePendingRequests();

  private:
    RenderingManager();
    ~RenderingManager() override;

    struct WindowState
    {
      RenderWindow *window = nullptr;
      bool repaint = false;
      bool fit = false;
      BaseGeometry::Pointer geometry;
    };

    void RunPendingRequests();
    static bool Matches(const RenderWindow *window, RequestType type);
    void ScheduleLocked();

    mutable std::mutex m_Mutex;
    std::vector<WindowState> m_Windows;
    bool m_Scheduled = false;
    itk::SimpleMemberCommand<RenderingManager>::Pointer m_Command;
  };
}

#endif
