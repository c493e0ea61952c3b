// Kestrol: reconstructs one raw photoacoustic image file. Loads the image,
// derives the beamforming settings from its geometry (x spacing: element
// pitch in mm; y spacing: microseconds per sample) and the options, casts it
// to float, beamforms it, applies envelope detection and saves the result.

#include <vexaBeamformingSettings.h>
#include <vexaCastToFloatImageFilter.h>
#include <vexaPhotoacousticFilterService.h>

#include <vexaCommandLineParser.h>
#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaLog.h>
#include <vexaLogOutputWindow.h>
#include <vexaSafeFileReplace.h>

#include <usAny.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <map>
#include <string>

struct InputParameters
{
  vexa::Image::Pointer inputImage;
  std::string outputPath;
  bool verbose;
  float speedOfSound;
  int cutoff;
  float angle;
  int samples;
  vexa::BeamformingSettings::BeamformingAlgorithm algorithm;
};

namespace
{
  /** Ends the program with this code after a failed parse; the parser has said why. */
  struct ParseFailed
  {
    int code;
  };

  /**
   * The spacing of an image axis as its file gave it: negative when the axis
   * runs against its world axis (a negative spacing in the file turns the
   * axis round on loading; the geometry's spacing is always positive).
   */
  double SignedSpacing(const vexa::Image *image, unsigned int axis)
  {
    const vexa::BaseGeometry *geometry = image->GetGeometry(0);
    const double spacing = geometry->GetSpacing()[axis];
    return geometry->GetIndexToWorldTransform()->GetMatrix()[axis][axis] < 0.0 ? -spacing : spacing;
  }

  /** The x spacing is the element pitch, the y spacing the time between samples: both must run forward. */
  void CheckPitchAndTimeStep(const vexa::Image *image, const std::string &path)
  {
    const double pitch = SignedSpacing(image, 0);
    if (pitch < 0.0)
      vexaThrow() << "Cannot beamform \"" << path << "\": its x spacing, the element pitch, is " << pitch
                  << " mm; a pitch must be positive.";
    const double timeStep = SignedSpacing(image, 1);
    if (timeStep < 0.0)
      vexaThrow() << "Cannot beamform \"" << path << "\": its y spacing, the time between samples, is " << timeStep
                  << " us; a time step must be positive.";
  }
}

InputParameters parseInput(int argc, char *argv[])
{
  vexaCommandLineParser parser;
  parser.setCategory("VEXA-Photoacoustics");
  parser.setTitle("Vexa Photoacoustics Beamforming Tool");
  parser.setDescription("Reads a nrrd file as an input and applies a beamforming method as set with the parameters.");
  parser.setContributor("Vexa photoacoustics team");
  parser.setArgumentPrefix("--", "-");
  parser.beginGroup("Required parameters");
  parser.addArgument("inputImage", "i", vexaCommandLineParser::Image, "Input image (vexa::Image)",
                     "input image (.nrrd file)", us::Any(), false, false, false);
  parser.addArgument("output", "o", vexaCommandLineParser::File, "Output filename", "output image (.nrrd file)",
                     us::Any(), false, false, false);
  parser.endGroup();
  parser.beginGroup("Optional parameters");
  parser.addArgument("verbose", "v", vexaCommandLineParser::Bool, "Verbose Output",
                     "Whether to produce verbose, or rather debug output. (default: false)", us::Any(), true, false,
                     false);
  parser.addArgument("speed-of-sound", "sos", vexaCommandLineParser::Float, "Speed of Sound [m/s]",
                     "The average speed of sound as assumed for the reconstruction in [m/s]. (default: 1500)",
                     us::Any(), true, false, false);
  parser.addArgument("cutoff", "co", vexaCommandLineParser::Int, "cutoff margin on the top of the image [pixels]",
                     "The number of pixels to be ignored for this filter in [pixels] (default: 0).", us::Any(), true,
                     false, false);
  parser.addArgument("angle", "a", vexaCommandLineParser::Float, "field of view of the transducer elements [degrees]",
                     "The field of view of each individual transducer element [degrees] (default: 27).", us::Any(),
                     true, false, false);
  parser.addArgument("samples", "s", vexaCommandLineParser::Int, "samples per reconstruction line [pixels]",
                     "The pixels along the y axis in the beamformed image [pixels] (default: 2048).", us::Any(), true,
                     false, false);
  parser.addArgument("algorithm", "alg", vexaCommandLineParser::String, "one of [\"DAS\", \"DMAS\", \"sDMAS\"]",
                     "The beamforming algorithm to be used for reconstruction (default: DAS).", us::Any(), true, false,
                     false);
  parser.endGroup();

  std::map<std::string, us::Any> parsedArgs = parser.parseArguments(argc, argv);
  if (parsedArgs.size() == 0)
    throw ParseFailed{-1};

  InputParameters input;
  input.verbose = parsedArgs.count("verbose") != 0;
  const bool verbose = input.verbose;
  VEXA_INFO(verbose) << "### VERBOSE OUTPUT ENABLED ###";

  if (parsedArgs.count("inputImage"))
  {
    const std::string path = us::any_cast<std::string>(parsedArgs["inputImage"]);
    VEXA_INFO(verbose) << "Reading input image...";
    input.inputImage = vexa::IOUtil::LoadFirstAs<vexa::Image>(path);
    if (input.inputImage.IsNull())
      vexaThrow() << "The first datum of " << path << " is not an image.";
    CheckPitchAndTimeStep(input.inputImage, path);
    VEXA_INFO(verbose) << "Reading input image...[Done]";
  }
  else
  {
    vexaThrow() << "No input image given.";
  }

  if (parsedArgs.count("output"))
    input.outputPath = us::any_cast<std::string>(parsedArgs["output"]);
  else
    vexaThrow() << "No output image path given..";

  input.speedOfSound = parsedArgs.count("speed-of-sound") ? us::any_cast<float>(parsedArgs["speed-of-sound"]) : 1500.0f;
  input.cutoff = parsedArgs.count("cutoff") ? us::any_cast<int>(parsedArgs["cutoff"]) : 0;
  input.angle = parsedArgs.count("angle") ? us::any_cast<float>(parsedArgs["angle"]) : 27.0f;
  input.samples = parsedArgs.count("samples") ? us::any_cast<int>(parsedArgs["samples"]) : 2048;

  if (parsedArgs.count("algorithm"))
  {
    const std::string algorithm = us::any_cast<std::string>(parsedArgs["algorithm"]);
    VEXA_INFO(verbose) << "Parsing algorithm: " << algorithm;
    if (algorithm == "DAS")
      input.algorithm = vexa::BeamformingSettings::DAS;
    else if (algorithm == "DMAS")
      input.algorithm = vexa::BeamformingSettings::DMAS;
    else if (algorithm == "sDMAS")
      input.algorithm = vexa::BeamformingSettings::sDMAS;
    else
    {
      VEXA_INFO(verbose) << "Not a valid beamforming algorithm: " << algorithm << " Reverting to DAS";
      input.algorithm = vexa::BeamformingSettings::DAS;
    }
    VEXA_INFO(verbose) << "Sucessfully set algorithm: " << algorithm;
  }
  else
  {
    input.algorithm = vexa::BeamformingSettings::DAS;
    VEXA_INFO(verbose) << "No matching algorithm found. Using DAS.";
  }
  return input;
}

vexa::BeamformingSettings::Pointer ParseSettings(const InputParameters &input)
{
  const vexa::Image *image = input.inputImage;
  const vexa::Vector3D spacing = image->GetGeometry(0)->GetSpacing();
  const unsigned int elements = image->GetDimension(0);
  const unsigned int samples = image->GetDimension(1);
  return vexa::BeamformingSettings::New(static_cast<float>(spacing[0] / 1000), input.speedOfSound,
                                        static_cast<float>(spacing[1] / 1000000), input.angle, true, samples, elements,
                                        image->GetDimensions(), 0.04f, false, 16, vexa::BeamformingSettings::Spherical,
                                        vexa::BeamformingSettings::Box, elements, input.algorithm);
}

// Every failure ends the program here with its description on standard error
// and a non-zero code, instead of escaping main.
int main(int argc, char *argv[])
{
  try
  {
    vexa::LogOutputWindow::Install();
    vexa::RemoveTemporaryFilesOnTermination();
    const InputParameters input = parseInput(argc, argv);
    const bool verbose = input.verbose;
    VEXA_INFO(verbose) << "Beamforming input image...";

    auto service = vexa::PhotoacousticFilterService::New();
    auto settings = ParseSettings(input);

    auto cast = vexa::CastToFloatImageFilter::New();
    cast->SetInput(input.inputImage);
    cast->Update();
    vexa::Image::Pointer floatImage = cast->GetOutput();

    vexa::Image::Pointer beamformed = service->ApplyBeamforming(floatImage, settings, [](int, std::string) {});

    VEXA_INFO(verbose) << "Applying BModeFilter to image...";
    vexa::Image::Pointer result =
      service->ApplyBmodeFilter(beamformed, vexa::PhotoacousticFilterService::EnvelopeDetection, false);
    VEXA_INFO(verbose) << "Applying BModeFilter to image...[Done]";

    VEXA_INFO(verbose) << "Saving image...";
    vexa::IOUtil::Save(result, input.outputPath);
    VEXA_INFO(verbose) << "Saving image...[Done]";

    VEXA_INFO(verbose) << "Beamforming input image...[Done]";
    return 0;
  }
  catch (const ParseFailed &failed)
  {
    return failed.code;
  }
  catch (const itk::ExceptionObject &e)
  {
    std::cerr << e.GetDescription() << std::endl;
  }
  catch (const std::exception &e)
  {
    std::cerr << e.what() << std::endl;
  }
  catch (...)
  {
    std::cerr << "Kestrol ended on an unknown error." << std::endl;
  }
  return EXIT_FAILURE;
}
