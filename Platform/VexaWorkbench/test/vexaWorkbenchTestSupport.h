#ifndef vexaWorkbenchTestSupport_h
#define vexaWorkbenchTestSupport_h

#include <vexaDataNode.h>
#include <vexaImage.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <cstring>
#include <vector>

namespace vexa
{
  namespace test
  {
    /** A 2-D (or 3-D) image of `components` components per pixel holding `values`. */
    template <typename T>
    Image::Pointer MakeImage(
      const std::vector<T> &values, unsigned int x, unsigned int y, unsigned int z = 1, std::size_t components = 1)
    {
      auto image = Image::New();
      const unsigned int dims[3] = {x, y, z};
      image->Initialize(CreatePixelType<T, T>(components), z > 1 ? 3 : 2, dims);
      ImageWriteAccessor access(image);
      std::memcpy(access.GetData(), values.data(), values.size() * sizeof(T));
      return image;
    }

    /** A node holding `data` (which may be null), named `name` (none when null). */
    inline DataNode::Pointer MakeNode(BaseData *data, const char *name)
    {
      DataNode::Pointer node = DataNode::New();
      node->SetData(data);
      if (name)
        node->SetName(name);
      return node;
    }

    /** Three vertical bands of `width` columns each: 0, 128 and 255, `height` rows. */
    inline Image::Pointer MakeBands(unsigned int width, unsigned int height)
    {
      std::vector<unsigned char> values;
      for (unsigned int y = 0; y < height; ++y)
        for (unsigned int x = 0; x < 3 * width; ++x)
          values.push_back(x < width ? 0 : x < 2 * width ? 128 : 255);
      return MakeImage(values, 3 * width, height);
    }
  }
}

#endif
