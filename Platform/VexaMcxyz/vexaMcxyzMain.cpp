// VexaMcxyz: the Monte-Carlo light simulator that the tissue generator
// programs run on every volume. A stand-in for the toolkit's outside
// simulator program, not part of the product; README.md beside this file
// describes the files it reads and writes.

#include "vexaMcxyzCommandLine.h"
#include "vexaMcxyzPhotonTransport.h"
#include "vexaMcxyzProbe.h"
#include "vexaMcxyzVolumeFile.h"

#include <vexaLogOutputWindow.h>
#include <vexaSafeFileReplace.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <locale>
#include <random>
#include <sstream>
#include <thread>

namespace
{
  /** A number in the "C" notation; all digits for the header, fewer for the summary line. */
  std::string Text(double v, int precision = 17)
  {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s.precision(precision);
    s << v;
    return s.str();
  }

  int Run(int argc, char **argv)
  {
    using namespace vexa::mcxyz;
    CommandLineOptions options;
    try
    {
      options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    }
    catch (const UsageError &e)
    {
      std::cerr << "VexaMcxyz: " << e.what() << "\n" << UsageText();
      return 1;
    }
    if (options.help)
    {
      std::cout << UsageText();
      return 0;
    }
    CheckFluencePath(options.outputPath);

    VolumeFile input = ReadOpticalVolume(options.inputPath);
    Illumination illumination = options.probePath.empty() ? Illumination::Default() : ReadProbeFile(options.probePath);
    illumination.lateralOffsetCm = options.lateralOffsetCm;

    TransportSettings settings;
    settings.photons = options.photons;
    settings.threads = options.threads;
    settings.seed = options.seed ? *options.seed
                                 : (static_cast<std::uint64_t>(std::random_device()()) << 32) ^ std::random_device()();

    const auto start = std::chrono::steady_clock::now();
    TransportResult result;
    try
    {
      result = SimulatePhotonTransport(input.volume, illumination, settings);
    }
    catch (const ThreadStartError &e)
    {
      std::cerr << "VexaMcxyz: " << e.what() << ". Run with fewer threads (-threads " << e.Started()
                << " or less); this machine has " << std::thread::hardware_concurrency() << " hardware threads."
                << std::endl;
      return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    WriteFluence(options.outputPath, result.fluence, input.volume.dimensions, input.geometry,
                 {{"mcxyz_quantity", "fluence per launched unit energy [1/cm^2]"},
                  {"mcxyz_photons", std::to_string(settings.photons)},
                  {"mcxyz_seed", std::to_string(settings.seed)},
                  {"mcxyz_threads", std::to_string(result.threadsUsed)},
                  {"mcxyz_lateral_offset_cm", Text(options.lateralOffsetCm)},
                  {"mcxyz_probe", options.probePath.empty() ? "default pencil beam" : options.probePath},
                  {"mcxyz_absorbed_fraction", Text(result.absorbedTotal / result.launched)},
                  {"mcxyz_escaped_fraction", Text(result.escaped / result.launched)},
                  {"mcxyz_terminated_fraction", Text(result.terminated / result.launched)}});

    // a packet ended by the interaction cap is named, so that a medium that holds light without end shows
    const std::string capped = result.terminatedPackets == 0
                                 ? std::string()
                                 : " (" + std::to_string(result.terminatedPackets) + " photons reached the cap of " +
                                     std::to_string(settings.maximumInteractions) + " interactions)";
    std::cout << "VexaMcxyz: " << settings.photons << " photons on " << result.threadsUsed << " threads in "
              << Text(seconds, 3) << " s; absorbed " << Text(result.absorbedTotal / result.launched, 4) << ", escaped "
              << Text(result.escaped / result.launched, 4) << ", terminated "
              << Text(result.terminated / result.launched, 4) << capped << "; fluence written to " << options.outputPath
              << std::endl;
    return 0;
  }
}

int main(int argc, char **argv)
{
  try
  {
    vexa::LogOutputWindow::Install();
    vexa::RemoveTemporaryFilesOnTermination();
    return Run(argc, argv);
  }
  catch (const std::exception &e)
  {
    std::cerr << "VexaMcxyz: " << e.what() << std::endl;
  }
  catch (...)
  {
    std::cerr << "VexaMcxyz: unknown error" << std::endl;
  }
  return 2;
}
