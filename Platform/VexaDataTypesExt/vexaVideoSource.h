#ifndef vexaVideoSource_h
#define vexaVideoSource_h

// Stand-in for the toolkit's video source base (library VexaDataTypesExt),
// not part of the product: the capture state that every video source shares
// and the polling interface its users call.

#include "VexaDataTypesExtExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

namespace vexa
{
  /**
   * Base of sources that deliver video frames when polled. It keeps the
   * capture state (frame size, capturing and paused flags, frame count) for its
   * subclasses, which set it directly; users only read it.
   *
   * itk::Object is a virtual base so that a subclass may also derive from
   * another itk::Object-based interface and still be one object.
   */
  class VEXADATATYPESEXT_EXPORT VideoSource : public virtual itk::Object
  {
  public:
    vexaClassMacroItkParent(VideoSource, itk::Object);

    /** Reads the next frame into the source. */
    virtual void FetchFrame() = 0;
    /** The current frame as RGB bytes, 3 per pixel; null when there is none. */
    virtual unsigned char *GetVideoTexture() = 0;
    virtual void StartCapturing();
    virtual void StopCapturing();
    virtual bool IsCapturingEnabled() const;
    virtual int GetImageWidth();
    virtual int GetImageHeight();
    virtual int GetFrameCount() const;
    virtual bool GetCapturePaused() const;
    /** Switches between capturing and holding the current frame. */
    virtual void PauseCapturing();

  protected:
    VideoSource();
    ~VideoSource() override;

    int m_CaptureWidth = 0;
    int m_CaptureHeight = 0;
    bool m_CapturingInProcess = false;
    int m_FrameCount = 0;
    bool m_CapturePaused = false;
  };
}

#endif
