#ifndef vexaMovieGeneratorOpenCV_h
#define vexaMovieGeneratorOpenCV_h

#include "LindvaneExports.h"

#include <vexaCommon.h>
#include <vexaMovieGenerator.h>

#include <opencv2/core.hpp>

#include <array>
#include <memory>
#include <string>

namespace cv
{
  class VideoWriter;
}

namespace vexa
{
  /**
   * Writes the frames of a render window into a video file with OpenCV. The
   * base walks through the scene and calls the three generator hooks; this
   * class decides frame size, codec and frame rate.
   *
   * The frame size is the render window's (less a 10-pixel border when the
   * coloured frame is removed), rounded down to a multiple of 4. Without a
   * chosen codec one that works with the file's extension is used: MJPG for
   * .avi, FFV1 (lossless) for .mkv, mp4v for .mp4, .m4v and .mov, WMV2 for
   * .wmv, MJPG for anything else.
   */
  class LINDVANE_EXPORT MovieGeneratorOpenCV : public MovieGenerator
  {
  public:
    vexaClassMacro(MovieGeneratorOpenCV, MovieGenerator);
    vexaNewMacro(MovieGeneratorOpenCV);

    void SetFileName(const char *fileName) override;
    /** Frames per second, 20 unless set. */
    void SetFrameRate(unsigned int rate) override;
    /** The four characters of a codec, copied; null lets the file's extension choose. */
    void SetFourCCCodec(const char *codec);
    /** Whether to leave out a 10-pixel border of the window (on unless set). */
    void SetRemoveColouredFrame(bool remove) { m_RemoveColouredFrame = remove; }

    /**
     * Opens the writer, closing one that is still open. False when the frame
     * would be smaller than 4 x 4 pixels, when there is no renderer, or when
     * OpenCV cannot open the file with the codec.
     */
    bool InitGenerator() override;
    /**
     * Adds one frame of width x height x 3 bytes in blue, green, red order,
     * rows from the bottom of the picture to its top. False when no writer is
     * open or no data is given.
     */
    bool AddFrame(unsigned char *data) override;
    /** Closes the file; true, also when nothing was open. */
    bool TerminateGenerator() override;

  protected:
    MovieGeneratorOpenCV();
    ~MovieGeneratorOpenCV() override;

  private:
    int FourCCCode() const;

    int m_width = 0;
    int m_height = 0;
    std::string m_sFile;
    unsigned int m_dwRate = 20;
    std::unique_ptr<cv::VideoWriter> m_aviWriter;
    cv::Mat m_currentFrame; // the frame being written, top row first as OpenCV wants it
    std::array<char, 4> m_FourCCCodec{{0, 0, 0, 0}};
    bool m_HasFourCCCodec = false;
    bool m_RemoveColouredFrame = true;
  };
}

#endif
