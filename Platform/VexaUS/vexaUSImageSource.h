#ifndef vexaUSImageSource_h
#define vexaUSImageSource_h

#include "VexaUSExports.h"
#include "vexaUSImageFrame.h"

#include <vexaCommon.h>

#include <itkObject.h>

namespace vexa
{
  /**
   * Where a device's pictures come from (a video input, a peer): the device's
   * acquisition thread asks it for the next picture. Settings may change on
   * the GUI thread meanwhile; a source guards them itself.
   */
  class VEXAUS_EXPORT USImageSource : public itk::Object
  {
  public:
    vexaClassMacroItkParent(USImageSource, itk::Object);

    /**
     * Fills `frame` with the next picture (reusing its buffer); false when
     * there is none, for instance at the end of an input that does not repeat.
     * Never throws; failures are logged.
     */
    virtual bool GetNextFrame(USImageFrame &frame) = 0;

  protected:
    USImageSource();
    ~USImageSource() override;
  };
}

#endif
