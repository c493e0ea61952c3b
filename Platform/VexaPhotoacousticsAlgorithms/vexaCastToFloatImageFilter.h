#ifndef vexaCastToFloatImageFilter_h
#define vexaCastToFloatImageFilter_h

#include "VexaPhotoacousticsAlgorithmsExports.h"

#include <vexaCommon.h>
#include <vexaImageSource.h>

namespace vexa
{
  /**
   * A float copy of an image: same sizes, channels, components and
   * geometry, every component converted to float.
   *
   *   auto cast = vexa::CastToFloatImageFilter::New();
   *   cast->SetInput(image);
   *   cast->Update();
   *   vexa::Image::Pointer floatImage = cast->GetOutput();
   */
  class VEXAPHOTOACOUSTICSALGORITHMS_EXPORT CastToFloatImageFilter : public ImageSource
  {
  public:
    vexaClassMacro(CastToFloatImageFilter, ImageSource);
    vexaNewMacro(CastToFloatImageFilter);

    void SetInput(const Image *image);
    const Image *GetInput() const;

  protected:
    CastToFloatImageFilter();
    ~CastToFloatImageFilter() override;

    void GenerateOutputInformation() override;
    void GenerateData() override;
  };
}

#endif
