// Quarrow: generates simulated tissue volumes without end and runs the light
// simulator on each of them at 31 lateral offsets. Stopped from outside.

#include <vexaCommandLineParser.h>
#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaLog.h>
#include <vexaLogOutputWindow.h>
#include <vexaPAInSilicoTissueGenerator.h>
#include <vexaPATissueGeneratorParameters.h>
#include <vexaPAVesselMeanderStrategy.h>
#include <vexaSafeFileReplace.h>
#include <vexaSimulatorShell.h>
#include <vexaUIDGenerator.h>

#include <itksys/SystemTools.hxx>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/wait.h>

namespace
{
  struct InputParameters
  {
    std::string savePath;
    std::string identifier;
    std::string simulatorPath;
    std::string probePath;
    bool verbose = false;
  };

  InputParameters parseInput(int argc, char *argv[])
  {
    VEXA_INFO << "Paring arguments...";
    vexaCommandLineParser parser;
    parser.setCategory("VEXA-Photoacoustics");
    parser.setTitle("Vexa Tissue Batch Generator");
    parser.setDescription("Creates in silico tissue in batch processing and automatically calculates fluence values "
                          "for the central slice of the volume.");
    parser.setContributor("Vexa photoacoustics team");
    parser.setArgumentPrefix("--", "-");

    parser.beginGroup("Required parameters");
    parser.addArgument("savePath", "s", vexaCommandLineParser::Directory, "Input save folder (directory)",
                       "input save folder", us::Any(), false, false, false);
    parser.addArgument("vexaMcxyz", "m", vexaCommandLineParser::File, "VexaMcxyz binary (file)",
                       "path to the VexaMcxyz binary", us::Any(), false, false, false);
    parser.endGroup();
    parser.beginGroup("Optional parameters");
    parser.addArgument("probe", "p", vexaCommandLineParser::File, "xml probe file (file)",
                       "file to the definition of the used probe (*.xml)", us::Any(), true, false, false);
    parser.addArgument("verbose", "v", vexaCommandLineParser::Bool, "Verbose Output",
                       "Whether to produce verbose, or rather debug output", us::Any(), true, false, false);
    parser.addArgument("identifyer", "i", vexaCommandLineParser::String, "Generator identifyer (string)",
                       "A unique identifyer for the calculation instance", us::Any(), true, false, false);

    std::map<std::string, us::Any> parsedArgs = parser.parseArguments(argc, argv);
    if (parsedArgs.size() == 0)
      std::exit(-1);

    InputParameters input;
    if (parsedArgs.count("verbose"))
    {
      VEXA_INFO << "verbose";
      input.verbose = us::any_cast<bool>(parsedArgs["verbose"]);
    }
    if (parsedArgs.count("savePath"))
    {
      VEXA_INFO << "savePath";
      input.savePath = us::any_cast<std::string>(parsedArgs["savePath"]);
    }
    if (parsedArgs.count("vexaMcxyz"))
    {
      VEXA_INFO << "vexaMcxyz";
      input.simulatorPath = us::any_cast<std::string>(parsedArgs["vexaMcxyz"]);
    }
    if (parsedArgs.count("probe"))
    {
      VEXA_INFO << "probe";
      input.probePath = us::any_cast<std::string>(parsedArgs["probe"]);
    }
    if (parsedArgs.count("identifyer"))
    {
      VEXA_INFO << "identifyer";
      input.identifier = us::any_cast<std::string>(parsedArgs["identifyer"]);
    }
    else
    {
      VEXA_INFO << "generating identifyer";
      input.identifier = vexa::UIDGenerator("", 8).GetUID();
    }
    VEXA_INFO << "Paring arguments...[Done]";
    return input;
  }

  vexa::pa::TissueGeneratorParameters::Pointer CreateQuarrowParameters()
  {
    auto p = vexa::pa::TissueGeneratorParameters::New();
    p->SetAirThicknessInMillimeters(1.8);
    p->SetMinBackgroundAbsorption(0.001);
    p->SetMaxBackgroundAbsorption(0.2);
    p->SetBackgroundAnisotropy(0.9);
    p->SetBackgroundScattering(15);
    p->SetCalculateNewVesselPositionCallback(&vexa::pa::VesselMeanderStrategy::CalculateRandomlyDivergingPosition);
    p->SetDoPartialVolume(true);
    p->SetMinNumberOfVessels(1);
    p->SetMaxNumberOfVessels(1);
    p->SetMinVesselAbsorption(4.73);
    p->SetMaxVesselAbsorption(4.73);
    p->SetMinVesselAnisotropy(0.9);
    p->SetMaxVesselAnisotropy(0.9);
    p->SetMinVesselBending(0);
    p->SetMaxVesselBending(0.2);
    p->SetMinVesselRadiusInMillimeters(3);
    p->SetMaxVesselRadiusInMillimeters(3);
    p->SetMinVesselScattering(15);
    p->SetMaxVesselScattering(15);
    p->SetMinVesselZOrigin(1);
    p->SetMaxVesselZOrigin(3);
    p->SetVesselBifurcationFrequency(5000);
    p->SetRngSeed(0);
    p->SetSkinThicknessInMillimeters(0);
    p->SetUseRngSeed(false);
    p->SetVoxelSpacingInCentimeters(0.06);
    p->SetXDim(70);
    p->SetYDim(100);
    p->SetZDim(100);
    p->SetRandomizePhysicalPropertiesPercentage(4);
    return p;
  }

  /** The offset as the simulator gets it: rounded to hundredths, printed with six decimals. */
  std::string OffsetText(double offset)
  {
    // adding 0.0 turns a rounded -0 into 0, so the middle offset reads "0.000000"
    const double rounded = std::round(offset * 100) / 100 + 0.0;
    char text[64];
    std::snprintf(text, sizeof(text), "%f", rounded);
    return text;
  }

  int Run(int argc, char *argv[])
  {
    const InputParameters input = parseInput(argc, argv);
    // a simulator that cannot start would turn the batch into volumes without fluence, for ever
    vexa::CheckSimulator(input.simulatorPath);
    const std::string savePath = vexa::AsFolder(input.savePath);
    for (unsigned long long n = 0;; ++n)
    {
      vexa::pa::TissueGeneratorParameters::Pointer parameters = CreateQuarrowParameters();
      VEXA_INFO(input.verbose) << "Generating tissue..";
      vexa::pa::InSilicoTissueVolume::Pointer volume =
        vexa::pa::InSilicoTissueGenerator::GenerateInSilicoData(parameters);
      VEXA_INFO(input.verbose) << "Generating tissue..[Done]";

      vexa::MakeFolder(savePath + "input/");
      vexa::MakeFolder(savePath + "output/");

      const std::string pass = input.identifier + "_" + std::to_string(n);
      const std::string inputFile = savePath + "input/BaselineHB_" + pass + ".nrrd";
      vexa::IOUtil::Save(volume->ConvertToVexaImage(), inputFile);

      const std::string passFolder = savePath + "output/BaselineHB_" + pass + "/";
      vexa::MakeFolder(passFolder);
      const std::string outputStem = passFolder + "Fluence_BaselineHB_" + pass;

      VEXA_INFO(input.verbose) << "Simulating fluence..";
      for (double offset = -1.8; offset <= 1.81; offset += 0.12)
      {
        const std::string offsetText = OffsetText(offset);
        const std::string outputFile = outputStem + "_yo" + offsetText + ".nrrd";
        std::string command = vexa::ShellQuoted(input.simulatorPath) + " -i " + vexa::ShellQuoted(inputFile) + " -o " +
                              vexa::ShellQuoted(outputFile) + " -yo " + vexa::ShellQuoted(offsetText);
        if (!input.probePath.empty())
          command += " -p " + vexa::ShellQuoted(input.probePath);
        command += " -n " + vexa::ShellQuoted("100000000");
        const int status = vexa::RunShellCommand(command);
        VEXA_INFO << "yo: " << offsetText << ": " << status;
        if (status == vexa::ShellCannotExecute || status == vexa::ShellCommandNotFound)
          vexaThrow() << "The shell could not start the simulator \"" << input.simulatorPath << "\" (exit status "
                      << status << "); the batch ends.";
      }
      VEXA_INFO(input.verbose) << "Simulating fluence..[Done]";
    }
  }
}

int main(int argc, char *argv[])
{
  try
  {
    vexa::LogOutputWindow::Install();
    // a stop from outside during a save leaves no partial file behind
    vexa::RemoveTemporaryFilesOnTermination();
    return Run(argc, argv);
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
    std::cerr << "Quarrow ended by an unknown error." << std::endl;
  }
  return 1;
}
