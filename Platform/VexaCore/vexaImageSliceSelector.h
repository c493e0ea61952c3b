#ifndef vexaImageSliceSelector_h
#define vexaImageSliceSelector_h

#include "vexaImageSource.h"

namespace vexa
{
  /**
   * One 2-D slice of one time step and channel of an image, as an image of
   * its own (its pixels copied, its geometry that of the slice).
   */
  class VEXACORE_EXPORT ImageSliceSelector : public ImageSource
  {
  public:
    vexaClassMacro(ImageSliceSelector, ImageSource);
    vexaNewMacro(ImageSliceSelector);

    virtual void SetInput(const Image *image);
    const Image *GetInput() const;

    virtual void SetSliceNr(int slice);
    int GetSliceNr() const { return m_SliceNr; }
    virtual void SetTimeNr(int timeStep);
    int GetTimeNr() const { return m_TimeNr; }
    virtual void SetChannelNr(int channel);
    int GetChannelNr() const { return m_ChannelNr; }

  protected:
    ImageSliceSelector();
    ~ImageSliceSelector() override;

    /** Checks the input and the numbers (vexa::Exception), shapes the output. */
    void GenerateOutputInformation() override;
    void GenerateData() override;

  private:
    int m_SliceNr = 0;
    int m_TimeNr = 0;
    int m_ChannelNr = 0;
  };
}

#endif
