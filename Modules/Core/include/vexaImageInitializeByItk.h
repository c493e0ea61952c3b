#ifndef vexaImageInitializeByItk_h
#define vexaImageInitializeByItk_h

// vexa::Image::InitializeByItk: shapes a toolkit image after a 2-D ITK image
// (pixel type, size, spacing, origin, orientation) without touching pixels.

#include <vexaImage.h>
#include <vexaLog.h>
#include <vexaLogItkMatrix.h>
#include <vexaPixelTypeTraits.h>
#include <vexaException.h>

#include <cmath>
#include <limits>

template <typename TItkImage>
void vexa::Image::InitializeByItk(const TItkImage *itkImage, int channels, int /*tDim*/, int /*sDim*/)
{
  static_assert(TItkImage::ImageDimension == 2, "InitializeByItk takes 2-D ITK images");
  if (!itkImage)
    return;
  if (channels < 1)
    vexaThrow() << "Image::InitializeByItk: an image needs at least one channel, not " << channels << ".";

  const auto size = itkImage->GetLargestPossibleRegion().GetSize();
  unsigned int dims[4] = {1, 1, 1, 1};
  for (unsigned int i = 0; i < 2; ++i)
  {
    if (size[i] > std::numeric_limits<unsigned int>::max())
      vexaThrow() << "Image::InitializeByItk: the ITK image has " << size[i] << " pixels along axis " << i << ".";
    dims[i] = static_cast<unsigned int>(size[i]);
  }

  using TPixel = typename TItkImage::PixelType;
  using TComponent = typename PixelTypeInternal::ComponentOf<TPixel>::type;
  Initialize(CreatePixelType<TComponent, TPixel>(itkImage->GetNumberOfComponentsPerPixel()), 2, dims,
             static_cast<unsigned int>(channels));

  const auto &itkSpacing = itkImage->GetSpacing();
  const auto &itkOrigin = itkImage->GetOrigin();
  const auto &itkDirection = itkImage->GetDirection();

  Vector3D spacing;
  spacing[0] = itkSpacing[0];
  spacing[1] = itkSpacing[1];
  spacing[2] = 1.0;
  Point3D origin;
  origin[0] = itkOrigin[0];
  origin[1] = itkOrigin[1];
  origin[2] = 0.0;
  AffineMatrix3D matrix;
  matrix.SetIdentity();

  bool directionUsable = true;
  for (unsigned int j = 0; j < 2; ++j)
  {
    const double columnSum = std::abs(itkDirection[0][j]) + std::abs(itkDirection[1][j]);
    // a NaN fails these tests too
    if (!(columnSum >= vexa::eps) || !std::isfinite(columnSum))
      directionUsable = false;
    if (!(spacing[j] >= vexa::eps) || !std::isfinite(spacing[j]))
    {
      VEXA_ERROR << "Illegal value of itk::Image::GetSpacing()[" << j << "]=" << spacing[j] << ". Using 1.0 instead.";
      spacing[j] = 1.0;
    }
  }

  if (!directionUsable)
  {
    VEXA_ERROR << "Illegal matrix returned by itk::Image::GetDirection():" << itkDirection
               << " Using identity instead.";
    for (unsigned int i = 0; i < 2; ++i)
      for (unsigned int j = 0; j < 2; ++j)
        matrix[i][j] = (i == j) ? spacing[j] : 0.0;
  }
  else
  {
    for (unsigned int i = 0; i < 2; ++i)
      for (unsigned int j = 0; j < 2; ++j)
        matrix[i][j] = itkDirection[i][j] * spacing[j];
  }

  SlicedGeometry3D *slicedGeometry = GetSlicedGeometry(0);
  BaseGeometry *sliceGeometry = slicedGeometry->GetSliceGeometry(0);
  sliceGeometry->SetOrigin(origin);
  sliceGeometry->GetIndexToWorldTransform()->SetMatrix(matrix);

  slicedGeometry->InitializeFromSlice(sliceGeometry, GetDimension(2));
  slicedGeometry->SetSpacing(spacing, false);

  ProportionalTimeGeometry::Pointer timeGeometry = ProportionalTimeGeometry::New();
  timeGeometry->Initialize(slicedGeometry, GetDimension(3));
  SetTimeGeometry(timeGeometry);

  Initialize();
}

#endif
