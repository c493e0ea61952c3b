#ifndef vexaImage_h
#define vexaImage_h

#include "vexaImageDataItem.h"
#include "vexaPixelType.h"
#include "vexaSlicedData.h"

#include <array>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vexa
{
  class ImageAccessorBase;

  /** Pixel type and byte size of one channel of an image. */
  class VEXACORE_EXPORT ChannelDescriptor
  {
  public:
    ChannelDescriptor(const PixelType &type, std::size_t size) : m_PixelType(type), m_Size(size) {}
    const PixelType &GetPixelType() const { return m_PixelType; }
    /** Bytes of the whole channel (all time steps). */
    std::size_t GetSize() const { return m_Size; }

  private:
    PixelType m_PixelType;
    std::size_t m_Size;
  };

  /**
   * An image of one to four dimensions (x, y, z, t) with one or more
   * channels. Each channel keeps its pixels in one contiguous block: the
   * volumes of the time steps one after the other, x fastest. Memory is
   * allocated (zeroed) on the first write access, or handed in by the caller.
   *
   * Pixels are reached through ImageReadAccessor and ImageWriteAccessor, which
   * keep the memory (and the image) alive while they are held and serialise
   * access between threads: many readers or one writer, where accessors of
   * the same thread never wait for each other.
   */
  class VEXACORE_EXPORT Image : public SlicedData
  {
  public:
    vexaClassMacro(Image, SlicedData);
    vexaNewMacro(Image);

    static constexpr unsigned int MaxDimension = 4;

    /** What the image does with memory handed to it. */
    enum ImportMemoryManagementType
    {
      CopyMemory = 0,      ///< copies the data; the caller keeps its buffer
      ManageMemory = 1,    ///< takes the buffer over and frees it when done
      ReferenceMemory = 2, ///< uses the caller's buffer, which must outlive the image's use of it
      DontManageMemory = ReferenceMemory
    };
    using BufferDeleter = ImageDataItem::BufferDeleter;

    /**
     * Shapes the image: pixel type, dimension count (1 to 4), the size along
     * each dimension (each at least 1) and the number of channels. Drops the
     * pixel memory and gives every time step a new sliced geometry (unit
     * spacing, origin 0). Throws vexa::Exception on bad arguments.
     */
    virtual void Initialize(const PixelType &type,
                            unsigned int dimension,
                            const unsigned int *dimensions,
                            unsigned int channels = 1);
    /** Shapes the image after a geometry: its extents are the sizes; the geometry is copied. */
    virtual void Initialize(const PixelType &type,
                            const BaseGeometry &geometry,
                            unsigned int channels = 1,
                            int tDim = 1);
    /** The shape, pixel type, channel count and a copy of the time geometry of another image. */
    virtual void Initialize(const Image *image);
    /**
     * Completes an initialisation: every time step gets a sliced geometry.
     * Keeps pixel type, sizes and pixels (the pipeline calls it before every
     * update of an output).
     */
    void Initialize() override;

    /**
     * Shapes the image after a 2-D ITK image (pixel type, size, spacing,
     * origin, orientation), without pixels. Defined with the core templates:
     * include vexaImageInitializeByItk.h to call it.
     */
    template <typename TItkImage>
    void InitializeByItk(const TItkImage *itkImage, int channels = 1, int tDim = -1, int sDim = -1);

    bool IsInitialized() const override;
    bool IsEmptyTimeStep(unsigned int t) const override;

    /** The number of dimensions (0 before initialisation). */
    unsigned int GetDimension() const { return m_Dimension; }
    /** The size along dimension i; 1 for every dimension beyond the image's own. */
    unsigned int GetDimension(int i) const;
    /** The sizes of all dimensions (MaxDimension entries, 1 beyond the image's own). */
    const unsigned int *GetDimensions() const { return m_Dimensions.data(); }

    /** The pixel type of channel n (vexa::Exception before initialisation). */
    PixelType GetPixelType(int n = 0) const;
    unsigned int GetNumberOfChannels() const { return static_cast<unsigned int>(m_Channels.size()); }
    ChannelDescriptor GetChannelDescriptor(int n = 0) const;

    std::size_t GetVolumeSizeInBytes() const;
    std::size_t GetChannelSizeInBytes() const;

    bool IsValidTimeStep(int t) const
    {
      return m_Dimension > 0 && t >= 0 && static_cast<unsigned int>(t) < m_Dimensions[3];
    }
    bool IsValidChannel(int n) const { return n >= 0 && static_cast<std::size_t>(n) < m_Channels.size(); }
    /** True when channel n has pixel memory. */
    bool IsChannelSet(int n = 0) const;
    bool IsVolumeSet(int t = 0, int n = 0) const;

    /**
     * The memory of volume t of channel n (allocated zeroed when the channel
     * has none yet); with data given, that data is imported first as by
     * SetImportVolume.
     */
    virtual ImageDataItem::Pointer GetVolumeData(int t = 0,
                                                 int n = 0,
                                                 void *data = nullptr,
                                                 ImportMemoryManagementType importMemoryManagement = CopyMemory);
    /** The memory of the whole channel n (allocated zeroed when it has none yet). */
    virtual ImageDataItem::Pointer GetChannelData(int n = 0);

    /** Copies one volume of pixels into time step t, channel n. */
    virtual bool SetVolume(const void *data, int t = 0, int n = 0);
    /** The same after checking that the source has exactly the volume's byte size and the image's pixel type. */
    virtual bool SetVolume(
      const void *data, std::size_t sizeInBytes, const PixelType &sourceType, int t = 0, int n = 0);

    /**
     * Hands one volume to time step t, channel n. CopyMemory copies it.
     * ManageMemory takes the buffer over: it is freed with the deleter (by
     * default with delete[] of char). ReferenceMemory uses it without
     * freeing it. A buffer is used in place only when the image has one time
     * step (the channel is then exactly that volume); with more time steps a
     * managed buffer is copied and freed at once, and a referenced one is
     * refused. When an exception is thrown the buffer stays the caller's.
     */
    virtual bool SetImportVolume(void *data,
                                 int t = 0,
                                 int n = 0,
                                 ImportMemoryManagementType importMemoryManagement = CopyMemory,
                                 BufferDeleter deleter = {});
    /** SetImportVolume with memory mode ManageMemory by default: the image owns the buffer afterwards. */
    virtual bool TakeVolumeBuffer(void *data,
                                  int t = 0,
                                  int n = 0,
                                  ImportMemoryManagementType importMemoryManagement = ManageMemory,
                                  BufferDeleter deleter = {});

    /** Shares the pixel memory, shape and (a copy of) the time geometry of another image. */
    void Graft(const itk::DataObject *data) override;

  protected:
    Image();
    /** A deep copy: shape, geometry and pixels. */
    Image(const Image &other);
    ~Image() override;
    vexaCloneMacro(Image);

    void PrintSelf(std::ostream &os, itk::Indent indent) const override;

  private:
    friend class ImageAccessorBase;

    void CheckVolumeArguments(const char *function, const void *data, int t, int n) const;
    void InitializeTimeGeometry();
    /** The item of channel n, allocated when allocate is set; caller holds m_Mutex. */
    ImageDataItem::Pointer ChannelItemLocked(std::size_t n, bool allocate) const;

    // Access serialisation (see the class comment); used by the accessors.
    bool AcquireAccess(bool write, int options) const;
    void ReleaseAccess(std::thread::id owner, bool write) const;

    std::optional<PixelType> m_PixelType;
    unsigned int m_Dimension = 0;
    std::array<unsigned int, MaxDimension> m_Dimensions{{1, 1, 1, 1}};
    mutable std::vector<ImageDataItem::Pointer> m_Channels;

    struct Holds
    {
      int readers = 0;
      int writers = 0;
    };
    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_AccessReleased;
    mutable std::map<std::thread::id, Holds> m_Holds;
  };
}

#endif
