#ifndef vexaMcxyzVolumeFile_h
#define vexaMcxyzVolumeFile_h

#include "vexaMcxyzPhotonTransport.h"

#include <map>
#include <string>

namespace vexa
{
  namespace mcxyz
  {
    /** Where the voxels lie in the world, as the input file says (millimetres). */
    struct VolumeGeometry
    {
      std::array<double, 3> originMm{{0, 0, 0}};
      std::array<double, 3> spacingMm{{1, 1, 1}};
      std::array<std::array<double, 3>, 3> direction{{{{1, 0, 0}}, {{0, 1, 0}}, {{0, 0, 1}}}};
    };

    struct VolumeFile
    {
      OpticalVolume volume;
      VolumeGeometry geometry;
    };

    /**
     * Reads the optical properties from an NRRD file: a 3-D image with at
     * least three components per voxel, or a 4-D image with at least three
     * volumes along its last axis; component / volume 0 is mu_a [1/cm], 1 is
     * mu_s [1/cm], 2 is g, further ones (the generator's segmentation) are
     * ignored. The spacing is in millimetres. Throws std::runtime_error
     * with the path for anything else.
     */
    VolumeFile ReadOpticalVolume(const std::string &path);

    /**
     * Refuses an output name the fluence cannot be written under: the file is
     * NRRD with its data attached, so the name must end in ".nrrd" (any letter
     * case); a name such as "out.png" would hold NRRD data under a name that
     * promises something else. Throws std::runtime_error naming the path.
     * WriteFluence checks this too; a program checks it first, before hours
     * of simulation.
     */
    void CheckFluencePath(const std::string &path);

    /**
     * Writes a 3-D float NRRD of the voxel values with the geometry, and
     * the key/value pairs into its header, through vexa::ReplaceFileSafely: a
     * regular file is written under a temporary name beside the target and
     * renamed, so a reader never sees a half-written file; a link is written
     * through to its target, a device or FIFO written to, never replaced.
     * Throws std::runtime_error with the path on failure.
     */
    void WriteFluence(const std::string &path,
                      const std::vector<double> &values,
                      const std::array<std::size_t, 3> &dimensions,
                      const VolumeGeometry &geometry,
                      const std::map<std::string, std::string> &keyValues);
  }
}

#endif
