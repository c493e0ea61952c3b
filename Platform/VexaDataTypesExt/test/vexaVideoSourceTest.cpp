#include <vexaVideoSource.h>

#include <gtest/gtest.h>

#include <itkObjectFactory.h>

namespace
{
  class CountingSource : public vexa::VideoSource
  {
  public:
    vexaClassMacro(CountingSource, vexa::VideoSource);
    vexaNewMacro(CountingSource);
    void FetchFrame() override { ++m_FrameCount; }
    unsigned char *GetVideoTexture() override { return nullptr; }

  protected:
    CountingSource() = default;
  };
}

TEST(VideoSource, StartsIdleAndKeepsItsCaptureState)
{
  CountingSource::Pointer source = CountingSource::New();
  EXPECT_FALSE(source->IsCapturingEnabled());
  EXPECT_FALSE(source->GetCapturePaused());
  EXPECT_EQ(0, source->GetImageWidth());
  EXPECT_EQ(0, source->GetImageHeight());
  EXPECT_EQ(0, source->GetFrameCount());

  source->StartCapturing();
  source->PauseCapturing();
  EXPECT_TRUE(source->IsCapturingEnabled());
  EXPECT_TRUE(source->GetCapturePaused());
  source->StopCapturing();
  EXPECT_FALSE(source->IsCapturingEnabled());
  EXPECT_FALSE(source->GetCapturePaused());
}

TEST(VideoSource, HierarchyEndsWithItkObjectAndLightObject)
{
  CountingSource::Pointer source = CountingSource::New();
  const std::vector<std::string> expected{"CountingSource", "VideoSource", "itk::Object", "itk::LightObject"};
  EXPECT_EQ(expected, source->GetClassHierarchy());
  EXPECT_STREQ("VideoSource", vexa::VideoSource::GetStaticNameOfClass());
}
