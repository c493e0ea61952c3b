#ifndef vexaSampleVolume_h
#define vexaSampleVolume_h

#include <cstddef>
#include <vector>

namespace vexa
{
  /**
   * A plain float volume as the numerical kernels of this library see an
   * image: dimension 0 (x) runs fastest, then dimension 1 (y), then frames
   * (z). Geometry (spacing, origin) stays with the caller; the kernels take
   * the physical values they need as parameters.
   */
  struct SampleVolume
  {
    unsigned int nx = 0;
    unsigned int ny = 0;
    unsigned int nz = 0;
    std::vector<float> data;

    SampleVolume() = default;
    SampleVolume(unsigned int x, unsigned int y, unsigned int z, float value = 0.0f)
      : nx(x), ny(y), nz(z), data(static_cast<std::size_t>(x) * y * z, value)
    {
    }

    std::size_t Index(unsigned int x, unsigned int y, unsigned int z) const
    {
      return (static_cast<std::size_t>(z) * ny + y) * nx + x;
    }
    float &At(unsigned int x, unsigned int y, unsigned int z) { return data[Index(x, y, z)]; }
    float At(unsigned int x, unsigned int y, unsigned int z) const { return data[Index(x, y, z)]; }
    bool Empty() const { return nx == 0 || ny == 0 || nz == 0; }
  };
}

#endif
