#ifndef vexaUndistortCameraImage_h
#define vexaUndistortCameraImage_h

#include "LindvaneExports.h"
#include <vexaPoint.h>

#include <vexaCommon.h>

#include <itkObject.h>
#include <itkObjectFactory.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

namespace vexa
{
  /**
   * Removes lens distortion from camera images and pixel positions with the
   * pinhole model: focal length, principal point, radial coefficients k1, k2
   * and tangential coefficients p1, p2.
   *
   * Two independent paths: UndistortImage builds the camera model from the
   * fields on every call; the fast path precomputes remapping tables once for
   * a fixed image size (SetUndistortImageFastInfo) so that a video stream can
   * be undistorted at frame rate (UndistortImageFast, one remap a frame). Its
   * parameters are kept apart from the fields.
   *
   * One object serves one thread at a time: the in-place fast path reuses a
   * scratch image of the object.
   */
  class LINDVANE_EXPORT UndistortCameraImage : public itk::Object
  {
  public:
    vexaClassMacroItkParent(UndistortCameraImage, itk::Object);
    vexaNewMacro(UndistortCameraImage);

    /** A focal length of 0 (or not finite) is refused with a vexa::Exception. */
    void SetFocalLength(float x, float y);
    void SetPrincipalPoint(float x, float y);
    void SetCameraDistortion(float k1, float k2, float p1, float p2);

    /**
     * Builds the remapping tables of the fast path for images of the given
     * size (truncated to whole pixels); distortion holds k1, k2, p1, p2.
     * Refuses a zero focal length, a missing distortion array and an image
     * smaller than one pixel with a vexa::Exception.
     */
    void SetUndistortImageFastInfo(
      float fx, float fy, float cx, float cy, float distortion[4], float imageWidth, float imageHeight);

    /**
     * Undistorts source into destination with the fields' camera model. The
     * two must have the same size and type (OpenCV error otherwise); they may
     * be the same image. Nothing happens when either is null.
     */
    void UndistortImage(IplImage *source, IplImage *destination);

    /**
     * Remaps source with the precomputed tables (bicubic; pixels that map
     * from outside the image keep the destination's values). Without a
     * destination the source is undistorted in place. Nothing happens without
     * a source; a source whose size differs from the tables', or a destination
     * of another size or type, is an OpenCV error.
     */
    void UndistortImageFast(IplImage *source, IplImage *destination = nullptr);

    /** Inverts the distortion of one pixel position (five fixed-point rounds). */
    vexa::Point<double, 2> UndistortPixel(const vexa::Point<double, 2> &distorted);

    /** Size of the fast path's tables (0 x 0 before SetUndistortImageFastInfo). */
    cv::Size GetUndistortMapSize() const { return m_mapX.size(); }

  protected:
    UndistortCameraImage();
    ~UndistortCameraImage() override;

  private:
    // Intrinsics start as an identity camera without distortion, so that an
    // object used before it is configured changes nothing instead of
    // computing with undefined values.
    float m_ccX = 0.0f, m_ccY = 0.0f;
    float m_fcX = 1.0f, m_fcY = 1.0f;
    float m_distortionMatrixData[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float m_intrinsicMatrixData[9] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    cv::Mat m_mapX, m_mapY;
    cv::Mat m_IntrinsicMatrix;  // header over m_intrinsicMatrixData
    cv::Mat m_DistortionMatrix; // header over m_distortionMatrixData
    cv::Mat m_tempImage;        // scratch copy of the in-place fast path, reused frame after frame
    cv::Mat m_DistortionVector; // fast path, 4 x 1 double
    cv::Mat m_CameraMatrix;     // fast path, 3 x 3 double
  };
}

#endif
