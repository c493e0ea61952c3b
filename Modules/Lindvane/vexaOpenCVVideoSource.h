#ifndef vexaOpenCVVideoSource_h
#define vexaOpenCVVideoSource_h

#include "LindvaneExports.h"
#include <vexaPoint.h>
#include "vexaOpenCVImageSource.h"
#include "vexaUndistortCameraImage.h"

#include <vexaCommon.h>
#include <vexaVideoSource.h>

#include <itkFixedArray.h>
#include <itkImage.h>
#include <itkObjectFactory.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <memory>
#include <string>
#include <vector>

namespace cv
{
  class VideoCapture;
}

namespace vexa
{
  /**
   * Frames of one camera or one video file, read when the user polls
   * (FetchFrame); no thread, no timer. Each fetched frame can be undistorted
   * with a lens model and flipped about either image axis, and is handed out
   * as the raw frame, as an IplImage or cv::Mat copy, as an RGB texture or as
   * an HSV ITK image. At the end of a file the source rewinds (repeat mode)
   * or throws std::logic_error. A camera that delivers no frame throws
   * std::logic_error naming the camera, whatever the repeat mode, and its
   * capture stays open, so that the next fetch reads on.
   *
   * Frames go into buffers of the source that are reused from frame to frame,
   * so once the frame size is stable fetching allocates nothing. One source
   * is used from one thread at a time.
   */
  class LINDVANE_EXPORT OpenCVVideoSource : public virtual VideoSource, public virtual OpenCVImageSource
  {
  public:
    typedef itk::FixedArray<float, 3> HSVPixelType;
    typedef itk::Image<HSVPixelType, 2> HSVImageType;

    vexaClassMacro(OpenCVVideoSource, VideoSource);
    vexaNewMacro(OpenCVVideoSource);

    /** Opens a video file; the last flag is not used. Capturing starts with StartCapturing. */
    virtual void SetVideoFileInput(const char *filename, bool repeatVideo, bool useCVCAMLib = false);
    /** Opens a camera by its index; the flag is not used. */
    virtual void SetVideoCameraInput(int cameraindex, bool useCVCAMLib = false);

    /** OpenCV capture properties (2: relative position in the file); 0 without an open capture. */
    virtual double GetVideoCaptureProperty(int propertyId);
    virtual int SetVideoCaptureProperty(int propertyId, double value);

    /**
     * Copies the current frame into an image of the same size, depth and
     * channel count; an image of another layout is left untouched (warning).
     */
    virtual void GetCurrentFrameAsOpenCVImage(IplImage *image);
    /** The current frame, or null; valid until the next fetch. */
    virtual const IplImage *GetCurrentFrame();
    /**
     * Fetches a frame and writes its HSV values into the image, whose row 0
     * becomes the bottom row of the frame. The image must exist with a
     * buffer of exactly the frame's size; otherwise it is left untouched.
     */
    virtual void GetCurrentFrameAsItkHSVPixelImage(HSVImageType::Pointer &Image);
    /** Flips the image in place about the enabled axes and returns it; null for null. */
    virtual IplImage *FlipImage(IplImage *input);

    /**
     * Undistorts every fetched frame with the lens model (the third
     * coordinates are not used; distortion is k1, k2, p1, p2). The maps are
     * built for the size of the first frame undistorted. A focal length of 0
     * is refused with a vexa::Exception and nothing changes.
     */
    virtual void EnableOnlineImageUndistortion(vexa::Point<double, 3> focal,
                                               vexa::Point<double, 3> principal,
                                               vexa::Point<double, 4> distortion);
    virtual void DisableOnlineImageUndistortion();
    /** True once a lens model was given, also after DisableOnlineImageUndistortion. */
    virtual bool OnlineImageUndistortionEnabled() const;

    virtual std::string GetVideoFileName() const { return m_VideoFileName; }
    virtual void SetEnableXAxisFlip(bool enable);
    virtual void SetEnableYAxisFlip(bool enable);
    virtual short GetGrabbingDeviceNumber() const { return m_GrabbingDeviceNumber; }
    virtual bool GetRepeatVideo() { return m_RepeatVideo; }
    virtual void SetRepeatVideo(bool repeat);

    void FetchFrame() override;
    /** Fetches, flips if enabled, and returns the frame as RGB rows from bottom to top. */
    unsigned char *GetVideoTexture() override;
    void StartCapturing() override;
    void StopCapturing() override;
    /** Holds the current frame (nothing happens without one), or resumes. */
    void PauseCapturing() override;

    /** A copy of the current frame; empty when there is none. No fetch. */
    cv::Mat GetImage() override;

  protected:
    OpenCVVideoSource();
    ~OpenCVVideoSource() override;

    /**
     * SetVideoCameraInput with the capture the camera is opened in: a
     * cv::VideoCapture not yet opened, which the source owns from then on.
     * Another kind of capture can stand in for a camera here, as where no
     * camera is attached.
     */
    void OpenCamera(int cameraindex, std::unique_ptr<cv::VideoCapture> capture);
    /** Closes the input and forgets its frames; flips and the lens model stay. */
    void Reset();
    /** r, g, b each in 0..1, or in 0..255 when above 1; h in degrees (-1 for grey), s and v in 0..1. */
    void RGBtoHSV(float r, float g, float b, float &h, float &s, float &v);
    void UpdateVideoTexture();

  private:
    void UndistortCurrentFrameOnce();
    void LearnFrameSize();

    std::unique_ptr<cv::VideoCapture> m_VideoCapture;
    IplImage *m_CurrentImage = nullptr;
    std::vector<unsigned char> m_CurrentVideoTexture;
    cv::Mat m_PauseImage;
    IplImage m_PauseImageHeader;
    std::string m_VideoFileName;
    short m_GrabbingDeviceNumber = -1;
    bool m_RepeatVideo = false;
    bool m_UseUndistortImage = false;
    UndistortCameraImage::Pointer m_UndistortImage;
    bool m_FlipXAxisEnabled = false;
    bool m_FlipYAxisEnabled = false;

    cv::Mat m_CaptureFrame; // every read goes here, reusing the buffer
    IplImage m_CaptureFrameHeader;
    // What has been done to the current frame, so that a held (paused) frame
    // is undistorted and flipped once and not again on every fetch.
    bool m_CurrentImageUndistorted = false;
    bool m_CurrentImageFlipped = false;
    // The lens model, kept to build maps for the size of the real frames.
    float m_UndistortionParameters[8] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    bool m_TextureWarningGiven = false;
  };
}

#endif
