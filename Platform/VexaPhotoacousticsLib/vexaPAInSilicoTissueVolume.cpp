#include "vexaPAInSilicoTissueVolume.h"

#include <vexaException.h>
#include <vexaPixelTypeTraits.h>

#include <itkVariableLengthVector.h>

namespace vexa
{
  namespace pa
  {
    void InSilicoTissueVolume::Initialize(const std::array<std::size_t, 3> &dimensions,
                                          double spacingInCentimeters,
                                          float absorption,
                                          float scattering,
                                          float anisotropy,
                                          SegmentationLabel label)
    {
      if (dimensions[0] == 0 || dimensions[1] == 0 || dimensions[2] == 0)
        vexaThrow() << "A tissue volume needs at least one voxel along every axis.";
      if (!(spacingInCentimeters > 0))
        vexaThrow() << "A tissue volume needs a positive voxel spacing, got " << spacingInCentimeters << " cm.";
      const std::size_t n = dimensions[0] * dimensions[1] * dimensions[2];
      m_Dimensions = dimensions;
      m_SpacingInCentimeters = spacingInCentimeters;
      m_Absorption.assign(n, absorption);
      m_Scattering.assign(n, scattering);
      m_Anisotropy.assign(n, anisotropy);
      m_Segmentation.assign(n, static_cast<float>(label));
      m_Vessels.clear();
      this->Modified();
    }

    vexa::Image::Pointer InSilicoTissueVolume::ConvertToVexaImage() const
    {
      const std::size_t n = GetNumberOfVoxels();
      if (n == 0)
        vexaThrow() << "The tissue volume holds no voxels; it cannot become an image.";
      std::vector<float> pixels(4 * n);
      for (std::size_t v = 0; v < n; ++v)
      {
        pixels[4 * v + 0] = m_Absorption[v];
        pixels[4 * v + 1] = m_Scattering[v];
        pixels[4 * v + 2] = m_Anisotropy[v];
        pixels[4 * v + 3] = m_Segmentation[v];
      }
      const unsigned int dims[3] = {static_cast<unsigned int>(m_Dimensions[0]),
                                    static_cast<unsigned int>(m_Dimensions[1]),
                                    static_cast<unsigned int>(m_Dimensions[2])};
      vexa::Image::Pointer image = vexa::Image::New();
      image->Initialize(vexa::CreatePixelType<float, itk::VariableLengthVector<float>>(4), 3, dims);
      const double spacingInMillimeters = m_SpacingInCentimeters * 10.0;
      const vexa::ScalarType spacing[3] = {spacingInMillimeters, spacingInMillimeters, spacingInMillimeters};
      image->GetGeometry(0)->SetSpacing(spacing);
      if (!image->SetVolume(pixels.data(), pixels.size() * sizeof(float),
                            vexa::CreatePixelType<float, itk::VariableLengthVector<float>>(4)))
        vexaThrow() << "The tissue volume's pixels do not fit the image made for them.";
      return image;
    }
  }
}
