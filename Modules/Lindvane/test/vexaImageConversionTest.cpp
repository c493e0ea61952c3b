#include <vexaImageToOpenCVImageFilter.h>
#include <vexaOpenCVToVexaImageFilter.h>

#include <vexaException.h>
#include <vexaImageReadAccessor.h>
#include <vexaImageWriteAccessor.h>
#include <vexaPixelTypeTraits.h>
#include <vorlenLogSink.h>

#include <gtest/gtest.h>

#include <itkRGBAPixel.h>
#include <itkRGBPixel.h>

#include <cstring>

namespace
{
  // Every pixel and channel of a test image has its own value: pixel i
  // (row by row) holds 3i + c in channel c (as OpenCV orders the channels).
  double ValueOf(int pixel, int channel) { return 3.0 * pixel + channel; }

  cv::Mat NumberedMat(int rows, int cols, int type)
  {
    cv::Mat mat(rows, cols, type);
    const int channels = mat.channels();
    cv::Mat asDouble(rows, cols, CV_MAKETYPE(CV_64F, channels));
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < cols; ++x)
        for (int c = 0; c < channels; ++c)
          asDouble.ptr<double>(y)[x * channels + c] = ValueOf(y * cols + x, c);
    asDouble.convertTo(mat, type);
    return mat;
  }

  /** A 2-D toolkit image of TPixel whose pixel i holds, in component k, the value of OpenCV channel k (scalar) or 2 - k (RGB). */
  template <class TComponent, class TPixel>
  vexa::Image::Pointer NumberedImage(unsigned int cols, unsigned int rows)
  {
    constexpr unsigned int components = sizeof(TPixel) / sizeof(TComponent);
    vexa::Image::Pointer image = vexa::Image::New();
    const unsigned int dims[] = {cols, rows};
    image->Initialize(vexa::CreatePixelType<TComponent, TPixel>(components), 2, dims);
    vexa::ImageWriteAccessor access(image);
    auto *values = static_cast<TComponent *>(access.GetData());
    for (unsigned int i = 0; i < cols * rows; ++i)
      for (unsigned int k = 0; k < components; ++k)
        values[i * components + k] =
          static_cast<TComponent>(ValueOf(static_cast<int>(i), components == 3 ? 2 - static_cast<int>(k) : 0));
    return image;
  }

  /** Compares the toolkit image's pixels with a numbered OpenCV matrix of the same size. */
  template <class TComponent>
  ::testing::AssertionResult HoldsNumberedPixels(vexa::Image *image, int rows, int cols, int channels)
  {
    vexa::ImageReadAccessor access(image);
    const auto *values = static_cast<const TComponent *>(access.GetData());
    for (int i = 0; i < rows * cols; ++i)
      for (int k = 0; k < channels; ++k)
      {
        // toolkit colour pixels are red, green, blue: component k is OpenCV channel 2 - k
        const double expected = ValueOf(i, channels == 3 ? 2 - k : k);
        if (static_cast<double>(values[i * channels + k]) != expected)
          return ::testing::AssertionFailure()
                 << "pixel " << i << " component " << k << " is " << +values[i * channels + k] << ", not " << expected;
      }
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult IsNumberedMat(const cv::Mat &mat, int rows, int cols, int type)
  {
    if (mat.rows != rows || mat.cols != cols || mat.type() != type)
      return ::testing::AssertionFailure() << "matrix of " << mat.cols << " x " << mat.rows << ", type " << mat.type()
                                           << " instead of " << cols << " x " << rows << ", type " << type;
    const double difference = cv::norm(mat, NumberedMat(rows, cols, type), cv::NORM_INF);
    if (difference != 0.0)
      return ::testing::AssertionFailure() << "pixels differ by up to " << difference;
    return ::testing::AssertionSuccess();
  }

  struct OpenCVCase
  {
    int type;
    std::function<vexa::PixelType()> pixelType;
    std::function<::testing::AssertionResult(vexa::Image *)> holdsNumbered;
  };

  template <class TComponent, class TPixel>
  OpenCVCase Case(int type)
  {
    constexpr int channels = sizeof(TPixel) / sizeof(TComponent);
    return OpenCVCase{type, [] { return vexa::CreatePixelType<TComponent, TPixel>(channels); },
                      [](vexa::Image *image) { return HoldsNumberedPixels<TComponent>(image, 3, 5, channels); }};
  }

  std::vector<OpenCVCase> ConvertedTypes()
  {
    return {Case<char, char>(CV_8SC1),
            Case<unsigned char, unsigned char>(CV_8UC1),
            Case<unsigned char, itk::RGBPixel<unsigned char>>(CV_8UC3),
            Case<unsigned short, unsigned short>(CV_16UC1),
            Case<unsigned short, itk::RGBPixel<unsigned short>>(CV_16UC3),
            Case<float, float>(CV_32FC1),
            Case<float, itk::RGBPixel<float>>(CV_32FC3),
            Case<double, double>(CV_64FC1),
            Case<double, itk::RGBPixel<double>>(CV_64FC3)};
  }
}

TEST(OpenCVToVexaImageFilter, ConvertsEverySupportedTypeWithItsValuesAndChannelOrder)
{
  for (const OpenCVCase &c : ConvertedTypes())
  {
    cv::Mat mat = NumberedMat(3, 5, c.type);
    vexa::OpenCVToVexaImageFilter::Pointer filter = vexa::OpenCVToVexaImageFilter::New();
    filter->SetOpenCVMat(mat);
    filter->Update();
    vexa::Image::Pointer image = filter->GetOutput();
    ASSERT_TRUE(image.IsNotNull()) << "type " << c.type;
    EXPECT_EQ(2u, image->GetDimension()) << "type " << c.type;
    EXPECT_EQ(5u, image->GetDimension(0));
    EXPECT_EQ(3u, image->GetDimension(1));
    EXPECT_EQ(1u, image->GetNumberOfChannels());
    EXPECT_EQ(c.pixelType(), image->GetPixelType()) << "type " << c.type;
    EXPECT_TRUE(c.holdsNumbered(image)) << "type " << c.type;

    // The image has pixels of its own: the matrix can change afterwards.
    {
      vexa::ImageReadAccessor access(image);
      EXPECT_NE(static_cast<const void *>(mat.data), access.GetData());
    }
    mat.setTo(cv::Scalar::all(100));
    EXPECT_TRUE(c.holdsNumbered(image)) << "type " << c.type;
  }
}

TEST(OpenCVToVexaImageFilter, ConvertsAnIplImageAndMakesANewImageEachTime)
{
  vexa::OpenCVToVexaImageFilter::Pointer filter = vexa::OpenCVToVexaImageFilter::New();
  EXPECT_EQ(nullptr, filter->GetOutput());
  cv::Mat first = NumberedMat(3, 5, CV_8UC3);
  IplImage header = cvIplImage(first);
  filter->SetOpenCVImage(&header);
  EXPECT_EQ(first.data, filter->GetOpenCVMat().data) << "the matrix is shared until the conversion";
  filter->Update();
  vexa::Image::Pointer image1 = filter->GetOutput();
  ASSERT_TRUE(image1.IsNotNull());
  EXPECT_TRUE(HoldsNumberedPixels<unsigned char>(image1, 3, 5, 3));

  filter->SetOpenCVMat(NumberedMat(3, 5, CV_32FC1));
  filter->Update();
  vexa::Image::Pointer image2 = filter->GetOutput();
  EXPECT_NE(image1.GetPointer(), image2.GetPointer());
  EXPECT_EQ(vexa::CreateScalarPixelType<float>(), image2->GetPixelType());
  EXPECT_TRUE(HoldsNumberedPixels<unsigned char>(image1, 3, 5, 3)) << "an earlier output stays valid";
}

TEST(OpenCVToVexaImageFilter, UnsupportedAndEmptyMatricesLeaveTheOutputAsItWas)
{
  vorlen::CapturingSink sink;
  vexa::OpenCVToVexaImageFilter::Pointer filter = vexa::OpenCVToVexaImageFilter::New();
  filter->Update();
  EXPECT_EQ(std::vector<std::string>{"Cannot start filter. OpenCV Image not set."}, sink.Texts(1));
  EXPECT_EQ(nullptr, filter->GetOutput());

  filter->SetOpenCVMat(NumberedMat(3, 5, CV_8UC1));
  filter->Update();
  vexa::Image *previous = filter->GetOutput();
  ASSERT_NE(nullptr, previous);

  for (int type : {CV_16SC1, CV_32SC1, CV_8UC2, CV_8UC4, CV_8SC3, CV_32FC4})
  {
    sink.Clear();
    filter->SetOpenCVMat(cv::Mat(3, 5, type, cv::Scalar::all(1)));
    filter->Update();
    EXPECT_EQ(std::vector<std::string>{"Unknown image depth and/or pixel type. Cannot convert OpenCV to VEXA image."},
              sink.Texts(1))
      << "type " << type;
    EXPECT_EQ(previous, filter->GetOutput()) << "type " << type;
  }

  sink.Clear();
  filter->SetOpenCVMat(cv::Mat());
  filter->Update();
  EXPECT_EQ(std::vector<std::string>{"Cannot start filter. OpenCV Image not set."}, sink.Texts(1));
  EXPECT_EQ(previous, filter->GetOutput());
}

TEST(OpenCVToVexaImageFilter, InsertsIntoOneTimeStepOfAnImage)
{
  vexa::Image::Pointer target = vexa::Image::New();
  const unsigned int dims[] = {5, 3, 1, 3};
  target->Initialize(vexa::CreatePixelType<unsigned short, itk::RGBPixel<unsigned short>>(3), 4, dims);
  vexa::Vector3D spacing;
  spacing[0] = 0.5;
  spacing[1] = 0.25;
  spacing[2] = 2.0;
  target->GetGeometry(2)->SetSpacing(spacing);

  vexa::OpenCVToVexaImageFilter::Pointer filter = vexa::OpenCVToVexaImageFilter::New();
  filter->InsertOpenCVImageAsVexaTimeSlice(NumberedMat(3, 5, CV_16UC3), target, 2);
  EXPECT_EQ(target.GetPointer(), filter->GetOutput());
  {
    vexa::ImageReadAccessor access(target);
    const auto *values = static_cast<const unsigned short *>(access.GetData());
    const size_t volume = 5 * 3 * 3;
    EXPECT_EQ(0, values[0]) << "time step 0 is untouched";
    for (size_t i = 0; i < 15; ++i)
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(ValueOf(static_cast<int>(i), 2 - k), values[2 * volume + i * 3 + k]) << i << " " << k;
  }
  // The converted image's geometry: unit spacing at the origin.
  EXPECT_DOUBLE_EQ(1.0, target->GetGeometry(2)->GetSpacing()[0]);
  EXPECT_DOUBLE_EQ(1.0, target->GetGeometry(2)->GetSpacing()[1]);
  EXPECT_DOUBLE_EQ(0.0, target->GetGeometry(2)->GetOrigin()[0]);
}

TEST(OpenCVToVexaImageFilter, InsertRefusesWhatDoesNotFitAndWhatCannotBeConverted)
{
  vexa::Image::Pointer target = vexa::Image::New();
  const unsigned int dims[] = {5, 3, 1, 2};
  target->Initialize(vexa::CreateScalarPixelType<unsigned char>(), 4, dims);
  vexa::ImageWriteAccessor(target).GetData(); // pixel memory, all zeros
  vexa::OpenCVToVexaImageFilter::Pointer filter = vexa::OpenCVToVexaImageFilter::New();

  EXPECT_THROW(filter->InsertOpenCVImageAsVexaTimeSlice(NumberedMat(3, 5, CV_8UC1), target, 2), vexa::Exception);
  EXPECT_THROW(filter->InsertOpenCVImageAsVexaTimeSlice(NumberedMat(3, 4, CV_8UC1), target, 1), vexa::Exception);
  EXPECT_THROW(filter->InsertOpenCVImageAsVexaTimeSlice(NumberedMat(3, 5, CV_16UC1), target, 1), vexa::Exception);
  EXPECT_THROW(filter->InsertOpenCVImageAsVexaTimeSlice(NumberedMat(3, 5, CV_8UC1), vexa::Image::New(), 0),
               vexa::Exception);

  vorlen::CapturingSink sink;
  filter->InsertOpenCVImageAsVexaTimeSlice(cv::Mat(3, 5, CV_16SC1, cv::Scalar(4)), target, 1);
  EXPECT_TRUE(sink.Contains("Nothing inserted into time step 1", 1));
  vexa::ImageReadAccessor access(target);
  const auto *values = static_cast<const unsigned char *>(access.GetData());
  ASSERT_NE(nullptr, values);
  for (size_t i = 0; i < 30; ++i)
    ASSERT_EQ(0, values[i]) << "nothing of the target changed";
}

TEST(OpenCVToVexaImageFilter, ClassHierarchyHasSixEntries)
{
  vexa::OpenCVToVexaImageFilter::Pointer filter = vexa::OpenCVToVexaImageFilter::New();
  const std::vector<std::string> expected{"OpenCVToVexaImageFilter", "ImageSource", "BaseDataSource",
                                          "itk::ProcessObject",      "itk::Object", "itk::LightObject"};
  EXPECT_EQ(expected, filter->GetClassHierarchy());
}

namespace
{
  struct VexaCase
  {
    std::string name;
    std::function<vexa::Image::Pointer()> make;
    int expectedType;
  };

  template <class TComponent, class TPixel>
  VexaCase Vexa(const std::string &name, int type)
  {
    return VexaCase{name, [] { return NumberedImage<TComponent, TPixel>(5, 3); }, type};
  }

  std::vector<VexaCase> HoldableTypes()
  {
    return {Vexa<int, int>("int", CV_32SC1),
            Vexa<short, short>("short", CV_16SC1),
            Vexa<unsigned short, unsigned short>("unsigned short", CV_16UC1),
            Vexa<char, char>("char", CV_8SC1),
            Vexa<unsigned char, unsigned char>("unsigned char", CV_8UC1),
            Vexa<double, double>("double", CV_64FC1),
            Vexa<float, float>("float", CV_32FC1),
            Vexa<unsigned char, itk::RGBPixel<unsigned char>>("RGB unsigned char", CV_8UC3),
            Vexa<unsigned short, itk::RGBPixel<unsigned short>>("RGB unsigned short", CV_16UC3),
            Vexa<float, itk::RGBPixel<float>>("RGB float", CV_32FC3),
            Vexa<double, itk::RGBPixel<double>>("RGB double", CV_64FC3)};
  }
}

TEST(ImageToOpenCVImageFilter, ConvertsEveryHoldableTypeIntoIplImagesAndMatrices)
{
  for (const VexaCase &c : HoldableTypes())
  {
    vexa::Image::Pointer image = c.make();
    vexa::ImageToOpenCVImageFilter::Pointer filter = vexa::ImageToOpenCVImageFilter::New();
    filter->SetImage(image);

    IplImage *ipl = filter->GetOpenCVImage();
    ASSERT_NE(nullptr, ipl) << c.name;
    EXPECT_EQ(5, ipl->width) << c.name;
    EXPECT_EQ(3, ipl->height) << c.name;
    EXPECT_TRUE(IsNumberedMat(cv::cvarrToMat(ipl), 3, 5, c.expectedType)) << c.name;
    cvReleaseImage(&ipl);

    cv::Mat mat = filter->GetOpenCVMat();
    EXPECT_TRUE(IsNumberedMat(mat, 3, 5, c.expectedType)) << c.name;
    EXPECT_NE(nullptr, mat.u) << c.name << ": the matrix owns its pixels";
    image = nullptr;
    EXPECT_EQ(nullptr, filter->GetImage()) << c.name;
    EXPECT_TRUE(IsNumberedMat(mat, 3, 5, c.expectedType)) << c.name << ": outlives the image";
  }
}

TEST(ImageToOpenCVImageFilter, RoundTripThroughOpenCVKeepsEveryPixel)
{
  for (const OpenCVCase &c : ConvertedTypes())
  {
    const cv::Mat mat = NumberedMat(3, 5, c.type);
    vexa::OpenCVToVexaImageFilter::Pointer toVexa = vexa::OpenCVToVexaImageFilter::New();
    toVexa->SetOpenCVMat(mat);
    toVexa->Update();
    vexa::ImageToOpenCVImageFilter::Pointer toOpenCV = vexa::ImageToOpenCVImageFilter::New();
    toOpenCV->SetImage(toVexa->GetOutput());
    EXPECT_TRUE(IsNumberedMat(toOpenCV->GetOpenCVMat(), 3, 5, c.type)) << "type " << c.type;
  }
}

TEST(ImageToOpenCVImageFilter, RefusesWhatOpenCVCannotHold)
{
  struct Refusal
  {
    vexa::Image::Pointer image;
    std::string type;
  };
  for (Refusal r : {Refusal{NumberedImage<unsigned int, unsigned int>(5, 3), "unsigned int"},
                    Refusal{NumberedImage<unsigned char, itk::RGBAPixel<unsigned char>>(5, 3), "RGBA"}})
  {
    vexa::ImageToOpenCVImageFilter::Pointer filter = vexa::ImageToOpenCVImageFilter::New();
    filter->SetImage(r.image);
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, filter->GetOpenCVImage()) << r.type;
    EXPECT_TRUE(filter->GetOpenCVMat().empty()) << r.type;
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string message = "Caught exception [from AccessFixedTypeByItk]: \nPixel type " +
                                r.image->GetPixelType().GetPixelTypeAsString() +
                                " is not in (int)( unsigned int)( short)( unsigned short)( char)( unsigned "
                                "char)(double)( float) "
                                "(UCRGBPixelType)(USRGBPixelType)(FloatRGBPixelType)(DoubleRGBPixelType)\n";
    EXPECT_EQ(message + message, out) << r.type;
  }
}

TEST(ImageToOpenCVImageFilter, RefusesImagesThatAreNotTwoDimensional)
{
  vorlen::CapturingSink sink;
  vexa::ImageToOpenCVImageFilter::Pointer filter = vexa::ImageToOpenCVImageFilter::New();
  testing::internal::CaptureStdout();
  EXPECT_EQ(nullptr, filter->GetOpenCVImage());
  EXPECT_EQ(std::vector<std::string>{"VEXA Image is 0"}, sink.Texts(1));

  vexa::Image::Pointer volume = vexa::Image::New();
  const unsigned int dims3[] = {4, 3, 2};
  volume->Initialize(vexa::CreateScalarPixelType<unsigned char>(), 3, dims3);
  filter->SetImage(volume);
  sink.Clear();
  EXPECT_EQ(nullptr, filter->GetOpenCVImage());
  EXPECT_EQ(std::vector<std::string>{"Only 2D Images allowed"}, sink.Texts(1));
  EXPECT_EQ("", testing::internal::GetCapturedStdout());

  vexa::Image::Pointer line = vexa::Image::New();
  const unsigned int dims1[] = {4};
  line->Initialize(vexa::CreateScalarPixelType<unsigned char>(), 1, dims1);
  filter->SetImage(line);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(filter->GetOpenCVMat().empty());
  EXPECT_EQ("Caught exception [from AccessFixedTypeByItk]: \nDimension 1 is not in (2)\n",
            testing::internal::GetCapturedStdout());

  // The held image goes when its last owner lets go.
  volume = nullptr;
  line = nullptr;
  EXPECT_EQ(nullptr, filter->GetImage());
  sink.Clear();
  EXPECT_EQ(nullptr, filter->GetOpenCVImage());
  EXPECT_EQ(std::vector<std::string>{"VEXA Image is 0"}, sink.Texts(1));
}

TEST(ImageToOpenCVImageFilter, ConvertsOneSliceOfOneTimeStep)
{
  vexa::Image::Pointer image = vexa::Image::New();
  const unsigned int dims[] = {5, 3, 2, 2};
  image->Initialize(vexa::CreateScalarPixelType<short>(), 4, dims);
  {
    vexa::ImageWriteAccessor access(image);
    auto *values = static_cast<short *>(access.GetData());
    for (int i = 0; i < 60; ++i)
      values[i] = static_cast<short>(i);
  }
  vexa::ImageToOpenCVImageFilter::Pointer filter = vexa::ImageToOpenCVImageFilter::New();
  filter->SetInputFromTimeSlice(image, 1, 1); // slice 1 of time step 1: pixels 45..59
  image = nullptr;
  const cv::Mat mat = filter->GetOpenCVMat();
  ASSERT_EQ(CV_16SC1, mat.type());
  ASSERT_EQ(cv::Size(5, 3), mat.size());
  EXPECT_EQ(45, mat.at<short>(0, 0));
  EXPECT_EQ(59, mat.at<short>(2, 4));

  EXPECT_THROW(filter->SetInputFromTimeSlice(filter->GetImage(), 1, 0), vexa::Exception)
    << "a 2-D image has no slice 1";
}

TEST(ImageToOpenCVImageFilter, SettingTheSameImageChangesNothing)
{
  vexa::Image::Pointer image = NumberedImage<unsigned char, unsigned char>(4, 3);
  vexa::ImageToOpenCVImageFilter::Pointer filter = vexa::ImageToOpenCVImageFilter::New();
  filter->SetImage(image);
  filter->SetImage(image);
  EXPECT_EQ(image.GetPointer(), filter->GetImage());
  const cv::Mat mat = filter->GetOpenCVMat();
  EXPECT_EQ(cv::Size(4, 3), mat.size());
  EXPECT_EQ(1, image->GetReferenceCount()) << "held weakly";
  const std::vector<std::string> expected{"ImageToOpenCVImageFilter", "itk::Object", "itk::LightObject"};
  EXPECT_EQ(expected, filter->GetClassHierarchy());
}
