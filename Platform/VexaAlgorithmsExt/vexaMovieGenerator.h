#ifndef vexaMovieGenerator_h
#define vexaMovieGenerator_h

// Stand-in for the toolkit's movie generator base (library VexaAlgorithmsExt),
// not part of the product. The toolkit films a VTK render window; there is no
// rendering here, so the renderer and the stepper are two small interfaces
// that a caller implements.

#include "VexaAlgorithmsExtExports.h"

#include <vexaCommon.h>

#include <itkLightObject.h>

#include <vector>

namespace vexa
{
  /**
   * Films a scene into a movie: walks the stepper through its steps, reads the
   * renderer's picture after each one and hands it to the generator hooks of
   * a subclass (open, add one frame, close), which decide codec and file.
   */
  class VEXAALGORITHMSEXT_EXPORT MovieGenerator : public itk::LightObject
  {
  public:
    vexaClassMacroItkParent(MovieGenerator, itk::LightObject);

    /** The picture being filmed: a render window of some size. */
    class VEXAALGORITHMSEXT_EXPORT Renderer
    {
    public:
      virtual ~Renderer();
      /** Width and height of the render window in pixels. */
      virtual void GetRenderWindowSize(int size[2]) const = 0;
      /**
       * Copies the window region of the given size whose lower-left corner is
       * (x, y) as 3 bytes a pixel in blue, green, red order, rows from the
       * bottom of the picture to its top.
       */
      virtual void ReadPixels(int x, int y, int width, int height, unsigned char *bgr) = 0;
    };

    /** Moves the scene from frame to frame (a camera path, a slice sweep...). */
    class VEXAALGORITHMSEXT_EXPORT Stepper
    {
    public:
      virtual ~Stepper();
      virtual unsigned int GetNumberOfSteps() const = 0;
      virtual void SetStep(unsigned int step) = 0;
    };

    /** Neither is owned; both must outlive the filming. */
    virtual void SetStepper(Stepper *stepper);
    virtual void SetRenderer(Renderer *renderer);
    virtual void SetFileName(const char *fileName) = 0;
    /** Films every step of the stepper into one movie; false when it cannot. */
    virtual bool WriteMovie();
    /** Adds the renderer's current picture, opening the movie on the first call. */
    virtual bool WriteCurrentFrameToMovie();
    /** Closes a movie opened by WriteCurrentFrameToMovie. */
    virtual void ReleaseMovieWriter();
    virtual void SetFrameRate(unsigned int rate) = 0;

    /** Generator hooks: open the writer, add width x height x 3 bytes, close it. */
    virtual bool InitGenerator() = 0;
    virtual bool AddFrame(unsigned char *data) = 0;
    virtual bool TerminateGenerator() = 0;

  protected:
    MovieGenerator();
    ~MovieGenerator() override;

    /** InitGenerator tells the base the size of the frames it wants. */
    void SetFrameSize(int width, int height);

    Renderer *m_Renderer = nullptr;
    Stepper *m_Stepper = nullptr;

  private:
    bool AddCurrentPicture();

    int m_FrameWidth = 0;
    int m_FrameHeight = 0;
    bool m_WriterOpenForSingleFrames = false;
    std::vector<unsigned char> m_FrameBuffer;
  };
}

#endif
