#include "vexaIGTLPipelineTestSupport.h"

#include <vexaImageToIGTLMessageFilter.h>

#include <vexaImageSource.h>
#include <vexaImageReadAccessor.h>
#include <vexaPixelTypeTraits.h>
#include <vorlenLogSink.h>

#include <igtlOSUtil.h>
#include <igtlTimeStamp.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace vexa;
using namespace vexa::test;

namespace
{
  class TwoImageSource : public ImageSource
  {
  public:
    vexaClassMacro(TwoImageSource, ImageSource);
    vexaNewMacro(TwoImageSource);

  protected:
    TwoImageSource()
    {
      this->SetNumberOfIndexedOutputs(2);
      this->SetNthOutput(1, this->MakeOutput(1));
    }
  };

  /** The image message of output idx, as a peer reads it: packed, then unpacked by a fresh message. */
  igtl::ImageMessage::Pointer ReadBack(ImageToIGTLMessageFilter *filter, unsigned int idx = 0)
  {
    IGTLMessage *output = filter->GetOutput(idx);
    if (output == nullptr || !output->IsDataValid())
      return nullptr;
    auto *sent = dynamic_cast<igtl::ImageMessage *>(output->GetMessage().GetPointer());
    if (sent == nullptr)
      return nullptr;
    const std::vector<unsigned char> wire = Packed(sent);
    igtl::MessageHeader::Pointer header = igtl::MessageHeader::New();
    header->InitPack();
    std::memcpy(header->GetPackPointer(), wire.data(), IGTL_HEADER_SIZE);
    header->Unpack();
    igtl::ImageMessage::Pointer read = igtl::ImageMessage::New();
    read->SetMessageHeader(header);
    read->AllocatePack();
    std::memcpy(read->GetPackBodyPointer(), wire.data() + IGTL_HEADER_SIZE, read->GetPackBodySize());
    if ((read->Unpack(1) & igtl::MessageHeader::UNPACK_BODY) == 0)
      return nullptr;
    return read;
  }

  template <typename T>
  void ExpectConversion(int scalarType, std::size_t components, std::vector<unsigned int> size)
  {
    Image::Pointer image = MakeImage<T>(size, components);
    ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
    filter->SetInput(image);
    filter->Update();
    igtl::ImageMessage::Pointer message = ReadBack(filter);
    ASSERT_TRUE(message.IsNotNull()) << typeid(T).name();
    EXPECT_EQ(scalarType, message->GetScalarType());
    EXPECT_EQ(static_cast<int>(components), message->GetNumComponents());
    EXPECT_EQ(igtl::ImageMessage::COORDINATE_RAS, message->GetCoordinateSystem());
    EXPECT_EQ(igtl::ImageMessage::ENDIAN_LITTLE, message->GetEndian());
    int dims[3];
    message->GetDimensions(dims);
    EXPECT_EQ(static_cast<int>(size[0]), dims[0]);
    EXPECT_EQ(static_cast<int>(size.size() > 1 ? size[1] : 1), dims[1]);
    EXPECT_EQ(static_cast<int>(size.size() > 2 ? size[2] : 1), dims[2]);
    ImageReadAccessor access(image);
    ASSERT_EQ(access.GetSize(), static_cast<std::size_t>(message->GetImageSize()));
    EXPECT_EQ(0, std::memcmp(access.GetData(), message->GetScalarPointer(), access.GetSize()));
  }
}

TEST(ImageToIGTLMessageFilter, DefaultsAndOneOutputPerInput)
{
  ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
  EXPECT_EQ("IGTLMessageSource (no defined type)", filter->GetName());
  EXPECT_EQ("NONE", filter->GetType());
  EXPECT_EQ(0u, filter->GetFPS());
  EXPECT_EQ(1u, filter->GetNumberOfIndexedOutputs());
  EXPECT_EQ(nullptr, filter->GetInput());

  Image::Pointer image = MakeImage<unsigned char>({4, 3});
  filter->SetInput(2, image);
  ASSERT_EQ(3u, filter->GetNumberOfIndexedOutputs());
  for (unsigned int i = 0; i < 3; ++i)
    EXPECT_NE(nullptr, filter->GetOutput(i)) << i;
  EXPECT_EQ(image.GetPointer(), filter->GetInput(2));
  EXPECT_EQ(nullptr, filter->GetInput(1));
  EXPECT_EQ(nullptr, filter->GetInput(7));
}

TEST(ImageToIGTLMessageFilter, PixelTypesSizesAndBytes)
{
  ExpectConversion<unsigned char>(3, 1, {4, 3});
  ExpectConversion<char>(2, 1, {4, 3});
  ExpectConversion<unsigned short>(5, 1, {5, 2, 3});
  ExpectConversion<short>(4, 1, {4, 3});
  ExpectConversion<unsigned int>(7, 1, {4, 3});
  ExpectConversion<int>(6, 1, {4, 3, 2});
  ExpectConversion<float>(10, 1, {4, 3});
  ExpectConversion<double>(11, 1, {3, 3, 3});
  ExpectConversion<unsigned char>(3, 3, {4, 3}); // RGB: three components of one byte
  ExpectConversion<short>(4, 1, {7});            // 1-D
}

TEST(ImageToIGTLMessageFilter, GeometryReadByAPeerIsTheImagesGeometry)
{
  // Direction, spacing and the placement of the image all survive: the
  // matrix columns are unit vectors, the spacing comes once, and the
  // position is the image's centre as OpenIGTLink defines it.
  for (const std::vector<unsigned int> &size : {std::vector<unsigned int>{6, 4}, std::vector<unsigned int>{6, 4, 5}})
  {
    Image::Pointer image = MakeImage<float>(size);
    ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
    filter->SetInput(image);
    filter->Update();
    igtl::ImageMessage::Pointer message = ReadBack(filter);
    ASSERT_TRUE(message.IsNotNull());
    ExpectGeometryOf(image, message);
  }
}

TEST(ImageToIGTLMessageFilter, TimeStampIsTheTimeOfConversion)
{
  Image::Pointer image = MakeImage<unsigned char>({4, 3});
  ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
  filter->SetInput(image);
  igtl::TimeStamp::Pointer now = igtl::TimeStamp::New();
  now->GetTime();
  const double before = now->GetTimeStamp();
  filter->Update();
  now->GetTime();
  const double after = now->GetTimeStamp();
  igtl::TimeStamp::Pointer stamp = igtl::TimeStamp::New();
  filter->GetOutput()->GetMessage()->GetTimeStamp(stamp);
  EXPECT_GE(stamp->GetTimeStamp(), before - 1e-3);
  EXPECT_LE(stamp->GetTimeStamp(), after + 1e-3);
  // The IGT time stamp of the output is the same moment in milliseconds.
  EXPECT_NEAR(stamp->GetTimeStamp() * 1000.0, filter->GetOutput()->GetIGTTimeStamp(), 1.0);
}

TEST(ImageToIGTLMessageFilter, RefusedInputsKeepTheirOutputAndTheOthersAreConverted)
{
  struct Case
  {
    const char *what;
    Image::Pointer image;
    const char *record;
  };
  Image::Pointer twoChannels = Image::New();
  const unsigned int size2[] = {4, 3};
  twoChannels->Initialize(CreateScalarPixelType<unsigned char>(), 2, size2, 2);
  const unsigned int size4[] = {2, 2, 2, 2};
  Image::Pointer fourD = Image::New();
  fourD->Initialize(CreateScalarPixelType<unsigned char>(), 4, size4);
  Image::Pointer uninitialised = Image::New();
  const std::vector<Case> cases = {
    {"4-D", fourD, "Can not handle more than three dimensions"},
    {"two channels", twoChannels, "Can not handle anything but one channel. Image contained 2"},
    {"dimensionless", uninitialised, "Can not handle dimensionless images"},
    {"long long", MakeImage<long long>({4, 3}), "Can not handle pixel component type 10"},
    {"unsigned long long", MakeImage<unsigned long long>({4, 3}), "Can not handle pixel component type 9"},
    // 64-bit integers have no OpenIGTLink size: refused, never a message without pixels
    {"long", MakeImage<long>({4, 3}), "Can not handle pixel component type 8"},
    {"unsigned long", MakeImage<unsigned long>({4, 3}), "Can not handle pixel component type 7"},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.what);
    vorlen::CapturingSink sink;
    ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
    Image::Pointer good = MakeImage<unsigned char>({4, 3});
    filter->SetInput(0, c.image);
    filter->SetInput(1, good);
    IGTLMessage *refusedOutput = filter->GetOutput(0);
    filter->Update();
    EXPECT_TRUE(sink.Contains(c.record, 2));
    EXPECT_EQ(refusedOutput, filter->GetOutput(0));
    EXPECT_FALSE(filter->GetOutput(0)->IsDataValid());
    igtl::ImageMessage::Pointer converted = ReadBack(filter, 1);
    ASSERT_TRUE(converted.IsNotNull());
    EXPECT_EQ(12, converted->GetImageSize());
  }
}

TEST(ImageToIGTLMessageFilter, ImagesLargerThanAMessageHoldsAreRefusedBeforeAnyAllocation)
{
  // 3 GB of pixels: shaped, never allocated (the memory comes with the first access)
  vorlen::CapturingSink sink;
  Image::Pointer huge = Image::New();
  const unsigned int size[] = {60000, 50000};
  huge->Initialize(CreateScalarPixelType<unsigned char>(), 2, size);
  ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
  filter->SetInput(huge);
  filter->Update();
  EXPECT_TRUE(sink.Contains("Can not handle an image of 60000 x 50000 x 1 pixels", 2));
  EXPECT_FALSE(filter->GetOutput()->IsDataValid());
  EXPECT_FALSE(huge->IsChannelSet(0));
}

TEST(ImageToIGTLMessageFilter, MissingInputIsSkippedWithAWarning)
{
  vorlen::CapturingSink sink;
  ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
  filter->SetInput(0, MakeImage<unsigned char>({4, 3}));
  filter->SetInput(2, MakeImage<unsigned char>({2, 2}));
  filter->Update();
  EXPECT_TRUE(sink.Contains("Input 1 holds no image", 1));
  EXPECT_TRUE(ReadBack(filter, 0).IsNotNull());
  EXPECT_FALSE(filter->GetOutput(1)->IsDataValid());
  ASSERT_TRUE(ReadBack(filter, 2).IsNotNull());
  EXPECT_EQ(4, ReadBack(filter, 2)->GetImageSize());
}

TEST(ImageToIGTLMessageFilter, RunsAgainOnlyWhenTheImageChangedAndMakesNewMessages)
{
  Image::Pointer image = MakeImage<unsigned char>({4, 3});
  ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
  filter->SetInput(image);
  filter->Update();
  igtl::MessageBase::Pointer first = filter->GetOutput()->GetMessage();
  filter->Update();
  EXPECT_EQ(first.GetPointer(), filter->GetOutput()->GetMessage().GetPointer());
  {
    ImageWriteAccessor access(image);
    static_cast<unsigned char *>(access.GetData())[0] = 200;
  }
  image->Modified();
  filter->Update();
  igtl::MessageBase::Pointer second = filter->GetOutput()->GetMessage();
  ASSERT_NE(first.GetPointer(), second.GetPointer());
  EXPECT_EQ(
    200, static_cast<unsigned char *>(dynamic_cast<igtl::ImageMessage *>(second.GetPointer())->GetScalarPointer())[0]);
  EXPECT_EQ(
    0, static_cast<unsigned char *>(dynamic_cast<igtl::ImageMessage *>(first.GetPointer())->GetScalarPointer())[0]);
  // Packed once, here: a device sends it as it is.
  EXPECT_TRUE(filter->GetOutput()->IsPacked());
}

TEST(ImageToIGTLMessageFilter, ConnectToTakesEveryOutputOfAnImageSource)
{
  vorlen::CapturingSink sink;
  TwoImageSource::Pointer source = TwoImageSource::New();
  ImageToIGTLMessageFilter::Pointer filter = ImageToIGTLMessageFilter::New();
  filter->ConnectTo(source);
  EXPECT_TRUE(sink.Contains(") vexaImageToIGTLMessageFilter is ", 0));
  EXPECT_EQ(2u, filter->GetNumberOfIndexedOutputs());
  EXPECT_EQ(source->GetOutput(0), filter->GetInput(0));
  EXPECT_EQ(source->GetOutput(1), filter->GetInput(1));
}
