// Writes the sample the workbench opens by default: a short grey clip that
// looks like a live ultrasound stream (speckle drifting downwards and a
// bright round target circling through it) and a device configuration file
// for a video device that plays it.
//
//   UltrasoundSample <output folder>
//
// writes <folder>/us-sample.avi and <folder>/us-sample.xml. The clip is the
// same on every run (fixed seed), lossless (FFV1), 25 frames per second.

#include "vexaUltrasoundSample.h"

#include <vexaUSDeviceReaderXML.h>
#include <vexaUSDeviceWriterXML.h>
#include <vexaUSProbe.h>

#include <vexaLogOutputWindow.h>

#include <opencv2/videoio.hpp>

#include <exception>
#include <filesystem>
#include <iostream>

int main(int argc, char **argv)
{
  try
  {
    vexa::LogOutputWindow::Install();
    if (argc != 2)
    {
      std::cout << "Usage: UltrasoundSample <output folder>\n";
      return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    const std::filesystem::path clip = folder / "us-sample.avi";
    const std::filesystem::path configuration = folder / "us-sample.xml";

    const vexa::sample::UltrasoundClip sample;
    cv::VideoWriter writer(clip.string(), cv::VideoWriter::fourcc('F', 'F', 'V', '1'), sample.FramesPerSecond,
                           cv::Size(sample.Width, sample.Height), false);
    if (!writer.isOpened())
    {
      std::cerr << "Cannot write the clip " << clip << "\n";
      return 1;
    }
    for (int i = 0; i < sample.Frames; ++i)
      writer.write(sample.Frame(i));
    writer.release();

    vexa::USDeviceReaderXML::USVideoDeviceConfigData_ config;
    config.fileversion = 1.0;
    config.deviceType = "video";
    config.deviceName = "Sample";
    config.manufacturer = "Vexa";
    config.model = "Sample Clip";
    config.comment = "synthetic speckle with a circling target";
    config.filePath = std::filesystem::absolute(clip).string();
    config.useGreyscale = true;
    vexa::USProbe::Pointer probe = vexa::USProbe::New("Sample Probe");
    vexa::Vector3D spacing;
    spacing[0] = 0.2;
    spacing[1] = 0.2;
    spacing[2] = 1.0;
    probe->SetDepthAndSpacing(40, spacing);
    config.probes.push_back(probe);
    vexa::USDeviceWriterXML xml;
    xml.SetFilename(configuration.string());
    if (!xml.WriteUltrasoundVideoDeviceConfiguration(config))
    {
      std::cerr << "Cannot write the device configuration " << configuration << "\n";
      return 1;
    }
    return 0;
  }
  catch (const std::exception &e)
  {
    std::cerr << "UltrasoundSample: " << e.what() << "\n";
    return 1;
  }
}
