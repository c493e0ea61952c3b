#ifndef vexaIOUtil_h
#define vexaIOUtil_h

#include "VexaCoreExports.h"
#include "vexaBaseData.h"
#include "vexaImage.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexa
{
  /**
   * Loading and saving data by file extension. Images are read and written as
   * NRRD (".nrrd" with the pixels attached, ".nhdr" with a detached ".raw"
   * file) with their pixel type, sizes, spacing, origin and direction.
   * Every failure is a vexa::Exception whose text names the file.
   *
   * A file is hostile until checked: before any pixel memory is allocated,
   * CheckNrrdFile reads the header and makes sure the data it claims is
   * really there (and within GetMaximumDataSize()).
   */
  class VEXACORE_EXPORT IOUtil
  {
  public:
    /** The largest pixel data of one file that Load accepts unless set otherwise: 4 GiB. */
    static constexpr std::uint64_t DefaultMaximumDataSize = std::uint64_t(4) << 30;

    /**
     * Sets the largest pixel data, in bytes, that Load accepts from one file
     * (whatever the file really holds, a claim beyond it is refused; the
     * warning record of the refusal names this function, the error's text
     * does not). Thread-safe; affects later loads.
     */
    static void SetMaximumDataSize(std::uint64_t bytes);
    static std::uint64_t GetMaximumDataSize();

    /**
     * Checks an NRRD file (".nrrd", or a ".nhdr" header and its data file)
     * without allocating for its pixels: the header must be readable, name a
     * supported type and encoding, and claim no more than
     * GetMaximumDataSize(); the spacing of every place axis (not of an axis of
     * pixel components) must be finite and not zero, in "spacings" and in
     * "space directions" alike; a raw data part must be at least as long as
     * the claim; a gzip part must inflate, checksum and length included, to
     * exactly the claim (decoded through one buffer, never kept). Load runs
     * this first; readers of NRRD files of their own run it too. Throws
     * vexa::Exception naming the file and the reason.
     */
    static void CheckNrrdFile(const std::string &path);

    /** The data in the file (one image for an NRRD file). */
    static std::vector<BaseData::Pointer> Load(const std::string &path);

    /** The first datum of the file as T, or null when it is not a T. */
    template <class T>
    static typename T::Pointer LoadFirstAs(const std::string &path)
    {
      const std::vector<BaseData::Pointer> data = Load(path);
      if (data.empty())
        throw std::out_of_range("invalid vector<T> subscript");
      return dynamic_cast<T *>(data.front().GetPointer());
    }

    /** The image in the file; a file whose first datum is not an image is an error. */
    static Image::Pointer LoadImage(const std::string &path);

    /**
     * Writes the datum; the format follows the extension. A ".nrrd" file goes
     * through ReplaceFileSafely, a ".nhdr" header and its ".raw" data file
     * through ReplaceFileGroupSafely (vexaSafeFileReplace.h): the files are
     * written under temporary names beside their final ones, read back (the
     * NRRD writer does not notice every failed write), and moved into place
     * only when whole, the data file before its header; so a failed save
     * never destroys an existing file or pair. A link is written through to
     * its target, a device or FIFO written to, never replaced.
     */
    static void Save(const BaseData *data, const std::string &path);
  };
}

#endif
