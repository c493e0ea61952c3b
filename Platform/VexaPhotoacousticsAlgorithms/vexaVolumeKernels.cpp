#include "vexaVolumeKernels.h"

#include <vexaException.h>

#include <cmath>
#include <cstdint>

namespace
{
  void CheckCrop(const char *axis, unsigned int size, int start, int end)
  {
    if (start < 0 || end < 0)
      vexaThrow() << "Cropping needs non-negative counts; got " << start << " and " << end << " " << axis << ".";
    if (static_cast<long long>(start) + end >= size)
      vexaThrow() << "Cropping " << start << " + " << end << " " << axis << " from an image of " << size << " " << axis
                  << " leaves nothing.";
  }
}

vexa::SampleVolume vexa::VolumeKernels::Crop(
  const SampleVolume &in, int top, int bottom, int left, int right, int first, int last)
{
  if (in.Empty())
    vexaThrow() << "Cropping needs an image with at least one value; got " << in.nx << " x " << in.ny << " x " << in.nz
                << ".";
  CheckCrop("rows", in.ny, top, bottom);
  CheckCrop("columns", in.nx, left, right);
  CheckCrop("slices", in.nz, first, last);
  SampleVolume out(in.nx - left - right, in.ny - top - bottom, in.nz - first - last);
  for (unsigned int z = 0; z < out.nz; ++z)
    for (unsigned int y = 0; y < out.ny; ++y)
    {
      const float *src = in.data.data() + in.Index(left, y + top, z + first);
      std::copy(src, src + out.nx, out.data.data() + out.Index(0, y, z));
    }
  return out;
}

unsigned long long vexa::VolumeKernels::ResampledRows(unsigned int ny, double inSpacing, double outSpacing)
{
  // a small tolerance keeps an exact multiple from losing its last row to rounding
  const double span = (ny - 1.0) * inSpacing / outSpacing;
  return static_cast<unsigned long long>(std::floor(span * (1.0 + 1e-12) + 1e-9)) + 1;
}

vexa::SampleVolume vexa::VolumeKernels::ResampleY(const SampleVolume &in, double inSpacing, double outSpacing)
{
  if (in.Empty())
    vexaThrow() << "Resampling needs an image with at least one value; got " << in.nx << " x " << in.ny << " x "
                << in.nz << ".";
  if (!std::isfinite(inSpacing) || inSpacing <= 0.0)
    vexaThrow() << "Resampling needs a positive y spacing of the image; got " << inSpacing << ".";
  if (!std::isfinite(outSpacing) || outSpacing <= 0.0)
    vexaThrow() << "Resampling needs a positive wanted y spacing; got " << outSpacing << ".";
  const double rowsWanted = (in.ny - 1.0) * inSpacing / outSpacing + 1.0;
  const double pixels = rowsWanted * in.nx * in.nz;
  if (!std::isfinite(pixels) || rowsWanted > 4294967295.0 || pixels > double(PTRDIFF_MAX / sizeof(float)))
    vexaThrow() << "Resampling " << in.ny << " rows from spacing " << inSpacing << " to " << outSpacing
                << " gives too large an image.";
  const unsigned int rows = static_cast<unsigned int>(ResampledRows(in.ny, inSpacing, outSpacing));
  SampleVolume out(in.nx, rows, in.nz);
  const double step = outSpacing / inSpacing;
  for (unsigned int z = 0; z < in.nz; ++z)
    for (unsigned int i = 0; i < rows; ++i)
    {
      const double pos = i * step;
      unsigned int j0 = static_cast<unsigned int>(pos);
      if (in.ny == 1 || j0 >= in.ny - 1)
        j0 = in.ny >= 2 ? in.ny - 2 : 0;
      const double frac = in.ny == 1 ? 0.0 : std::min(std::max(pos - j0, 0.0), 1.0);
      const float *a = in.data.data() + in.Index(0, j0, z);
      const float *b = in.ny == 1 ? a : a + in.nx;
      float *dst = out.data.data() + out.Index(0, i, z);
      for (unsigned int x = 0; x < in.nx; ++x)
        dst[x] = static_cast<float>(a[x] + (b[x] - a[x]) * frac);
    }
  return out;
}
