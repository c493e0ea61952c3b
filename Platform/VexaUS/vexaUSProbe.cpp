#include "vexaUSProbe.h"

namespace vexa
{
  namespace
  {
    Vector3D UnitSpacing()
    {
      Vector3D spacing;
      spacing.Fill(1.0);
      return spacing;
    }
  }

  USProbe::USProbe() = default;
  USProbe::~USProbe() = default;

  std::string USProbe::GetName() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Name;
  }

  void USProbe::SetName(const std::string &name)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Name = name;
    }
    Modified();
  }

  void USProbe::SetDepth(int depth)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_DepthsAndSpacings.emplace(depth, UnitSpacing());
    }
    Modified();
  }

  void USProbe::SetDepthAndSpacing(int depth, const Vector3D &spacing)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_DepthsAndSpacings[depth] = spacing;
    }
    Modified();
  }

  void USProbe::RemoveDepth(int depth)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_DepthsAndSpacings.erase(depth);
    }
    Modified();
  }

  bool USProbe::IsDepthAndSpacingEmpty() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_DepthsAndSpacings.empty();
  }

  std::map<int, Vector3D> USProbe::GetDepthsAndSpacing() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_DepthsAndSpacings;
  }

  Vector3D USProbe::GetSpacingForGivenDepth(int depth) const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    auto found = m_DepthsAndSpacings.find(depth);
    return found == m_DepthsAndSpacings.end() ? UnitSpacing() : found->second;
  }

  void USProbe::SetSpacingForGivenDepth(int depth, const Vector3D &spacing) { SetDepthAndSpacing(depth, spacing); }

  USProbe::USProbeCropping_ USProbe::GetProbeCropping() const
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Cropping;
  }

  void USProbe::SetProbeCropping(std::uint32_t top, std::uint32_t bottom, std::uint32_t left, std::uint32_t right)
  {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_Cropping.top = top;
      m_Cropping.bottom = bottom;
      m_Cropping.left = left;
      m_Cropping.right = right;
    }
    Modified();
  }

  bool USProbe::IsEqualToProbe(const USProbe *probe) const
  {
    if (!probe)
      return false;
    if (probe == this)
      return true;
    std::string name = probe->GetName();
    std::map<int, Vector3D> depths = probe->GetDepthsAndSpacing();
    USProbeCropping_ cropping = probe->GetProbeCropping();
    std::lock_guard<std::mutex> lock(m_Mutex);
    return name == m_Name && depths == m_DepthsAndSpacings && cropping == m_Cropping;
  }
}
