#ifndef vexaIOUtil_h
#define vexaIOUtil_h

#include "VexaCoreExports.h"
#include "vexaBaseData.h"
#include "vexaImage.h"

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
   */
  class VEXACORE_EXPORT IOUtil
  {
  public:
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
     * through ReplaceFileSafely (vexaSafeFileReplace.h): a regular file is
     * written beside its final name and moved into place when complete, so a
     * failed save never destroys an existing file; a link is written through
     * to its target, a device or FIFO written to, never replaced.
     */
    static void Save(const BaseData *data, const std::string &path);
  };
}

#endif
