#include <vexaImageToItk.h>
#include <vexaException.h>
#include <vexaImageSource.h>
#include <vexaPixelTypeTraits.h>

#include <vexaTestItkOutput.h>
#include <vorlenLogSink.h>

#include <itkCommand.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace
{
  using ::testing::EndsWith;
  using ::testing::HasSubstr;
  using ::testing::StartsWith;

  vexa::Image::Pointer MakeImage(const vexa::PixelType &type, std::vector<unsigned int> dims, bool fill = true)
  {
    vexa::Image::Pointer image = vexa::Image::New();
    image->Initialize(type, static_cast<unsigned int>(dims.size()), dims.data());
    if (fill)
    {
      vexa::ImageWriteAccessor access(image);
      auto *bytes = static_cast<unsigned char *>(access.GetData());
      for (std::size_t i = 0; i < access.GetSize(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 11 + 5);
    }
    return image;
  }

  template <class TPixel>
  void ExpectLentAndCopied(unsigned int components)
  {
    using ItkImage = itk::Image<TPixel, 2>;
    using Component = typename vexa::PixelTypeInternal::ComponentOf<TPixel>::type;
    vexa::Image::Pointer image = MakeImage(vexa::CreatePixelType<Component, TPixel>(components), {5, 3});
    const void *pixels = vexa::ImageReadAccessor(image, nullptr, vexa::ImageAccessorBase::IgnoreLock).GetConstData();

    auto filter = vexa::ImageToItk<ItkImage>::New();
    filter->SetInput(image.GetPointer());
    filter->Update();
    typename ItkImage::Pointer lent = filter->GetOutput();
    EXPECT_EQ(pixels, static_cast<const void *>(lent->GetBufferPointer()));
    EXPECT_EQ(5u, lent->GetBufferedRegion().GetSize()[0]);
    EXPECT_EQ(3u, lent->GetLargestPossibleRegion().GetSize()[1]);
    lent->DisconnectPipeline();

    auto copier = vexa::ImageToItk<ItkImage>::New();
    copier->CopyMemoryOn();
    copier->SetInput(static_cast<const vexa::Image *>(image.GetPointer()));
    copier->Update();
    typename ItkImage::Pointer copy = copier->GetOutput();
    ASSERT_NE(pixels, static_cast<const void *>(copy->GetBufferPointer()));
    EXPECT_EQ(0, std::memcmp(pixels, copy->GetBufferPointer(), 15 * sizeof(TPixel)));

    // a write through the lent view is the toolkit image's; through the copy it is not
    unsigned char *lentBytes = reinterpret_cast<unsigned char *>(lent->GetBufferPointer());
    unsigned char *copyBytes = reinterpret_cast<unsigned char *>(copy->GetBufferPointer());
    lentBytes[0] = 0xAB;
    copyBytes[1] = 0xCD;
    const auto *imageBytes = static_cast<const unsigned char *>(pixels);
    EXPECT_EQ(0xAB, imageBytes[0]);
    EXPECT_NE(0xCD, imageBytes[1]);
  }

  struct DeleteCounter
  {
    int count = 0;
    void Count() { ++count; }
  };

  void Watch(itk::Object *object, DeleteCounter &counter)
  {
    auto command = itk::SimpleMemberCommand<DeleteCounter>::New();
    command->SetCallbackFunction(&counter, &DeleteCounter::Count);
    object->AddObserver(itk::DeleteEvent(), command);
  }

  std::string DescriptionOfSetInput(const vexa::Image *image)
  {
    auto filter = vexa::ImageToItk<itk::Image<unsigned char, 2>>::New();
    try
    {
      filter->SetInput(image);
    }
    catch (const itk::ExceptionObject &e)
    {
      EXPECT_STREQ("unknown", e.GetLocation());
      EXPECT_THAT(e.GetDescription(), StartsWith("itk::ERROR: ImageSource(0x"));
      return e.GetDescription();
    }
    return "no exception";
  }
}

TEST(ImageToItk, EveryPixelTypeIsLentOrCopied)
{
  ExpectLentAndCopied<int>(1);
  ExpectLentAndCopied<unsigned int>(1);
  ExpectLentAndCopied<short>(1);
  ExpectLentAndCopied<unsigned short>(1);
  ExpectLentAndCopied<char>(1);
  ExpectLentAndCopied<unsigned char>(1);
  ExpectLentAndCopied<double>(1);
  ExpectLentAndCopied<float>(1);
  ExpectLentAndCopied<itk::RGBPixel<unsigned char>>(3);
  ExpectLentAndCopied<itk::RGBPixel<unsigned short>>(3);
  ExpectLentAndCopied<itk::RGBPixel<float>>(3);
  ExpectLentAndCopied<itk::RGBPixel<double>>(3);
}

TEST(ImageToItk, SetInputRefusesWhatItCannotPresent)
{
  EXPECT_THAT(DescriptionOfSetInput(nullptr), EndsWith("image is null"));
  EXPECT_THAT(DescriptionOfSetInput(MakeImage(vexa::CreateScalarPixelType<unsigned char>(), {2, 2, 2}, false)),
              EndsWith("image has dimension 3 instead of 2"));
  EXPECT_THAT(DescriptionOfSetInput(MakeImage(vexa::CreateScalarPixelType<float>(), {2, 2}, false)),
              EndsWith("image has wrong pixel type "));

  // a refused image leaves the earlier input in place
  auto filter = vexa::ImageToItk<itk::Image<unsigned char, 2>>::New();
  vexa::Image::Pointer good = MakeImage(vexa::CreateScalarPixelType<unsigned char>(), {4, 4});
  filter->SetInput(good.GetPointer());
  EXPECT_THROW(filter->SetInput(static_cast<vexa::Image *>(nullptr)), itk::ExceptionObject);
  EXPECT_EQ(good.GetPointer(), filter->GetInput());
}

TEST(ImageToItk, UpdateWithoutInputThrows)
{
  auto filter = vexa::ImageToItk<itk::Image<float, 2>>::New();
  EXPECT_THROW(filter->Update(), itk::ExceptionObject);
}

TEST(ImageToItk, GeometryBecomesSpacingOriginAndDirection)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<unsigned short>(), {640, 480});
  vexa::Vector3D spacing;
  spacing[0] = 0.5;
  spacing[1] = 0.25;
  spacing[2] = 1;
  image->SetSpacing(spacing);
  vexa::Point3D origin;
  origin[0] = 10;
  origin[1] = 20;
  origin[2] = 30;
  image->SetOrigin(origin);

  auto filter = vexa::ImageToItk<itk::Image<unsigned short, 2>>::New();
  filter->SetInput(image.GetPointer());
  filter->Update();
  auto *out = filter->GetOutput();
  EXPECT_EQ(640u, out->GetLargestPossibleRegion().GetSize()[0]);
  EXPECT_EQ(480u, out->GetLargestPossibleRegion().GetSize()[1]);
  EXPECT_EQ(0, out->GetLargestPossibleRegion().GetIndex()[0]);
  EXPECT_EQ(0.5, out->GetSpacing()[0]);
  EXPECT_EQ(0.25, out->GetSpacing()[1]);
  EXPECT_EQ(10.0, out->GetOrigin()[0]);
  EXPECT_EQ(20.0, out->GetOrigin()[1]);
  itk::Image<unsigned short, 2>::DirectionType identity;
  identity.SetIdentity();
  EXPECT_EQ(identity, out->GetDirection());

  // an in-plane rotation comes through
  vexa::AffineMatrix3D m;
  m.SetIdentity();
  m[0][0] = 0;
  m[0][1] = -0.25;
  m[1][0] = 0.5;
  m[1][1] = 0;
  image->GetGeometry()->GetIndexToWorldTransform()->SetMatrix(m);
  filter->Modified();
  filter->Update();
  EXPECT_DOUBLE_EQ(-1.0, out->GetDirection()[0][1]);
  EXPECT_DOUBLE_EQ(1.0, out->GetDirection()[1][0]);
  EXPECT_DOUBLE_EQ(0.0, out->GetDirection()[0][0]);

  // a matrix that couples the third axis is not an in-plane orientation
  m[0][2] = 0.1;
  image->GetGeometry()->GetIndexToWorldTransform()->SetMatrix(m);
  filter->Modified();
  filter->Update();
  EXPECT_EQ(identity, out->GetDirection());
}

TEST(ImageToItk, ZeroSpacingIsAClearErrorNotNaN)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 4});
  vexa::AffineMatrix3D m;
  m.SetIdentity();
  m[1][1] = 0.0;
  image->GetGeometry()->GetIndexToWorldTransform()->SetMatrix(m);
  auto filter = vexa::ImageToItk<itk::Image<float, 2>>::New();
  filter->SetInput(image.GetPointer());
  try
  {
    filter->Update();
    ADD_FAILURE() << "a zero spacing was passed on";
  }
  catch (const itk::ExceptionObject &e)
  {
    EXPECT_THAT(e.GetDescription(), HasSubstr("spacing of 0"));
  }
}

TEST(ImageToItk, RepeatedSetInputReplacesTheInput)
{
  vexa::Image::Pointer first = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 4});
  vexa::Image::Pointer second = MakeImage(vexa::CreateScalarPixelType<float>(), {6, 2});
  auto filter = vexa::ImageToItk<itk::Image<float, 2>>::New();
  filter->SetInput(first.GetPointer());
  filter->SetInput(second.GetPointer());
  EXPECT_EQ(1u, filter->GetNumberOfIndexedInputs());
  EXPECT_EQ(1, first->GetReferenceCount());
  filter->Update();
  EXPECT_EQ(6u, filter->GetOutput()->GetLargestPossibleRegion().GetSize()[0]);
}

TEST(ImageToItk, LentViewKeepsTheImageAliveAndWriteLockedUntilReleased)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {8, 8});
  {
    vexa::ImageWriteAccessor access(image);
    static_cast<float *>(access.GetData())[9] = 2.5f;
  }
  DeleteCounter deleted;
  Watch(image, deleted);

  itk::Image<float, 2>::Pointer view = vexa::ConvertToItkImage<float, 2>(image);
  vexa::Image *raw = image.GetPointer();
  image = nullptr;
  EXPECT_EQ(0, deleted.count);
  EXPECT_EQ(2.5f, view->GetBufferPointer()[9]);
  EXPECT_EQ(nullptr, view->GetSource().GetPointer());

  std::thread other([raw]() {
    EXPECT_THROW(vexa::ImageReadAccessor(raw, nullptr, vexa::ImageAccessorBase::ExceptionIfLocked), vexa::Exception);
  });
  other.join();

  view = nullptr;
  EXPECT_EQ(1, deleted.count);
}

TEST(ImageToItk, CopyAfterLendingNeverWritesIntoTheLentBuffer)
{
  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<unsigned char>(), {4, 4});
  const void *pixels = vexa::ImageReadAccessor(image, nullptr, vexa::ImageAccessorBase::IgnoreLock).GetConstData();
  auto filter = vexa::ImageToItk<itk::Image<unsigned char, 2>>::New();
  filter->ReleaseDataBeforeUpdateFlagOff();
  filter->SetInput(image.GetPointer());
  filter->Update();
  ASSERT_EQ(pixels, static_cast<const void *>(filter->GetOutput()->GetBufferPointer()));
  filter->CopyMemoryOn();
  filter->Update();
  EXPECT_NE(pixels, static_cast<const void *>(filter->GetOutput()->GetBufferPointer()));
  filter->GetOutput()->GetBufferPointer()[0] = 99;
  EXPECT_NE(99, static_cast<const unsigned char *>(pixels)[0]);
}

TEST(ImageToItk, ImageWithoutPixelsGivesAWarningAndAnEmptyBuffer)
{
  vexa::Image::Pointer empty = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 4}, false);
  {
    vexa::test::CapturedItkOutput output;
    auto filter = vexa::ImageToItk<itk::Image<float, 2>>::New();
    filter->SetInput(static_cast<const vexa::Image *>(empty.GetPointer()));
    EXPECT_NO_THROW(filter->Update());
    EXPECT_EQ(0u, filter->GetOutput()->GetBufferedRegion().GetNumberOfPixels());
    EXPECT_THAT(output.Text(), HasSubstr("ImageSource ("));
    EXPECT_THAT(output.Text(), HasSubstr("): no image data to import in ITK image\n\n"));
    EXPECT_THAT(output.Text(), StartsWith("WARNING: In "));
  }

  // in a program (this test's too) the warning is a record of the log
  vorlen::CapturingSink log;
  auto filter = vexa::ImageToItk<itk::Image<float, 2>>::New();
  filter->SetInput(static_cast<const vexa::Image *>(empty.GetPointer()));
  filter->Update();
  const std::vector<vorlen::LogRecord> records = log.Records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(1, records[0].level);
  EXPECT_EQ("ImageSource", records[0].function);
  EXPECT_THAT(records[0].file, EndsWith("vexaImageToItk.h"));
  EXPECT_THAT(records[0].text, EndsWith("): no image data to import in ITK image"));
}

TEST(ImageToItk, NamesSettersAndContainer)
{
  auto filter = vexa::ImageToItk<itk::Image<float, 2>>::New();
  EXPECT_STREQ("ImageSource", filter->GetNameOfClass());
  EXPECT_FALSE(filter->GetCopyMemory());
  EXPECT_EQ(0, filter->GetAccessOptions());
  EXPECT_EQ(0, filter->GetReservedIndex());
  const itk::ModifiedTimeType t0 = filter->GetMTime();
  filter->SetCopyMemory(false);
  filter->SetAccessOptions(0);
  filter->SetReservedIndex(0);
  EXPECT_EQ(t0, filter->GetMTime());
  filter->SetReservedIndex(3);
  EXPECT_EQ(3, filter->GetReservedIndex());
  EXPECT_GT(filter->GetMTime(), t0);
  filter->CopyMemoryOn();
  EXPECT_TRUE(filter->GetCopyMemory());
  filter->CopyMemoryOff();
  EXPECT_FALSE(filter->GetCopyMemory());

  vexa::Image::Pointer image = MakeImage(vexa::CreateScalarPixelType<float>(), {4, 4});
  filter->SetInput(image.GetPointer());
  filter->Update();
  auto *container = filter->GetOutput()->GetPixelContainer();
  EXPECT_STREQ("ImportVexaImageContainer", container->GetNameOfClass());
  EXPECT_FALSE(container->GetContainerManageMemory());
  std::ostringstream printed;
  container->Print(printed);
  EXPECT_THAT(printed.str(), HasSubstr("ImageAccessor: 0x"));
  EXPECT_THAT(printed.str(), ::testing::Not(HasSubstr("Import Pointer")));

  auto fresh = itk::ImportVexaImageContainer<itk::SizeValueType, float>::New();
  EXPECT_EQ(0u, fresh->Size());
  EXPECT_TRUE(fresh->GetContainerManageMemory());
  EXPECT_THROW(fresh->TakeImageAccessor(new vexa::ImageReadAccessor(image), 17), itk::ExceptionObject);
}

namespace
{
  // A source that presents its own output to ITK in the middle of its update.
  class PresentingSource : public vexa::ImageSource
  {
  public:
    vexaClassMacro(PresentingSource, vexa::ImageSource);
    vexaNewMacro(PresentingSource);
    int runs = 0;
    unsigned long presentedWidth = 0;

  protected:
    void GenerateData() override
    {
      ++runs;
      vexa::Image *output = GetOutput();
      const unsigned int dims[] = {7, 3};
      output->Initialize(vexa::CreateScalarPixelType<float>(), 2, dims);
      auto view = vexa::ImageToItk<itk::Image<float, 2>>::New();
      view->SetInput(output);
      view->Update();
      presentedWidth = view->GetOutput()->GetBufferedRegion().GetSize()[0];
    }
  };
}

TEST(ImageToItk, WorksInsideTheUpdateOfTheInputsSource)
{
  PresentingSource::Pointer source = PresentingSource::New();
  source->Update();
  EXPECT_EQ(1, source->runs);
  EXPECT_EQ(7u, source->presentedWidth);
}
