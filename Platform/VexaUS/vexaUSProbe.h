#ifndef vexaUSProbe_h
#define vexaUSProbe_h

#include "VexaUSExports.h"

#include <vexaCommon.h>
#include <vexaVector.h>

#include <itkObject.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vexa
{
  /**
   * An ultrasound probe as a video device knows it: a name, the imaging
   * depths (whole millimetres) it offers with the pixel spacing of the
   * picture at each depth, and one cropping (pixels cut from the top, bottom,
   * left and right of the picture) for all of its depths.
   *
   * Thread-safe: an editor on the GUI thread and a device thread may use one
   * probe at the same time.
   */
  class VEXAUS_EXPORT USProbe : public itk::Object
  {
  public:
    vexaClassMacroItkParent(USProbe, itk::Object);
    vexaNewMacro(USProbe);
    /** A probe named `name`, without depths. */
    static Pointer New(const std::string &name)
    {
      Pointer probe = New();
      probe->SetName(name);
      return probe;
    }

    /** Pixels cut away at each edge of the picture. */
    struct USProbeCropping_
    {
      std::uint32_t top = 0;
      std::uint32_t bottom = 0;
      std::uint32_t left = 0;
      std::uint32_t right = 0;
      bool operator==(const USProbeCropping_ &o) const
      {
        return top == o.top && bottom == o.bottom && left == o.left && right == o.right;
      }
      bool operator!=(const USProbeCropping_ &o) const { return !(*this == o); }
    };
    using USProbeCropping = USProbeCropping_;

    std::string GetName() const;
    void SetName(const std::string &name);

    /** Adds a depth with spacing 1, 1, 1 (a depth already there keeps its spacing). */
    void SetDepth(int depth);
    /** Adds or replaces a depth with its spacing. */
    void SetDepthAndSpacing(int depth, const Vector3D &spacing);
    void RemoveDepth(int depth);
    bool IsDepthAndSpacingEmpty() const;
    /** Depth to spacing, in ascending depth. */
    std::map<int, Vector3D> GetDepthsAndSpacing() const;
    /** The spacing at `depth`; 1, 1, 1 when the probe has no such depth. */
    Vector3D GetSpacingForGivenDepth(int depth) const;
    /** Sets the spacing of `depth`, adding the depth when it is new. */
    void SetSpacingForGivenDepth(int depth, const Vector3D &spacing);

    USProbeCropping_ GetProbeCropping() const;
    void SetProbeCropping(std::uint32_t top, std::uint32_t bottom, std::uint32_t left, std::uint32_t right);

    /** True for the same name, depths, spacings and cropping. */
    bool IsEqualToProbe(const USProbe *probe) const;

  protected:
    USProbe();
    ~USProbe() override;

  private:
    mutable std::mutex m_Mutex;
    std::string m_Name;
    std::map<int, Vector3D> m_DepthsAndSpacings;
    USProbeCropping_ m_Cropping;
  };
}

#endif
