#include <vexaImageSource.h>
#include <vexaException.h>
#include <vexaImageWriteAccessor.h>
#include <vexaImageReadAccessor.h>
#include <vexaPixelTypeTraits.h>

#include <gtest/gtest.h>

namespace
{
  // Makes a 4x4 float image once; later updates leave the output alone.
  class OnceSource : public vexa::ImageSource
  {
  public:
    vexaClassMacro(OnceSource, vexa::ImageSource);
    vexaNewMacro(OnceSource);
    int runs = 0;
    bool updatingSeen = false;

  protected:
    void GenerateData() override
    {
      ++runs;
      updatingSeen = Updating();
      if (runs > 1)
        return;
      vexa::Image *output = GetOutput();
      const unsigned int dims[] = {4, 4};
      output->Initialize(vexa::CreateScalarPixelType<float>(), 2, dims);
      vexa::Vector3D spacing;
      spacing.Fill(0.5);
      output->SetSpacing(spacing);
      vexa::ImageWriteAccessor access(output);
      static_cast<float *>(access.GetData())[3] = 3.0f;
    }
  };
}

TEST(ImageSource, HasAnImageOutputAndNamesItsChain)
{
  vexa::ImageSource::Pointer source = vexa::ImageSource::New();
  ASSERT_NE(nullptr, source->GetOutput());
  EXPECT_STREQ("Image", source->GetOutput()->GetNameOfClass());
  EXPECT_EQ(nullptr, source->GetOutput(5));
  EXPECT_EQ(source.GetPointer(), source->GetOutput()->GetSource().GetPointer());

  OnceSource::Pointer once = OnceSource::New();
  const std::vector<std::string> expected = {"OnceSource",         "ImageSource", "BaseDataSource",
                                             "itk::ProcessObject", "itk::Object", "itk::LightObject"};
  EXPECT_EQ(expected, once->GetClassHierarchy());
}

TEST(ImageSource, UpdatesKeepWhatEarlierRunsMade)
{
  OnceSource::Pointer source = OnceSource::New();
  EXPECT_FALSE(source->Updating());
  source->Update();
  EXPECT_EQ(1, source->runs);
  EXPECT_TRUE(source->updatingSeen);
  EXPECT_FALSE(source->Updating());

  // the pipeline prepares the output again before the second run
  source->Modified();
  source->Update();
  EXPECT_EQ(2, source->runs);
  vexa::Image *output = source->GetOutput();
  ASSERT_TRUE(output->IsInitialized());
  EXPECT_EQ(0.5, output->GetGeometry()->GetSpacing()[1]);
  vexa::ImageReadAccessor access(output);
  EXPECT_EQ(3.0f, static_cast<const float *>(access.GetData())[3]);
}

TEST(ImageSource, GraftSharesPixels)
{
  OnceSource::Pointer source = OnceSource::New();
  source->Update();
  vexa::ImageSource::Pointer other = vexa::ImageSource::New();
  other->GraftOutput(source->GetOutput());
  vexa::ImageReadAccessor a(source->GetOutput());
  vexa::ImageReadAccessor b(other->GetOutput());
  EXPECT_EQ(a.GetData(), b.GetData());
  EXPECT_EQ(4u, other->GetOutput()->GetDimension(1));
  EXPECT_THROW(other->GraftNthOutput(3, source->GetOutput()), vexa::Exception);
}
