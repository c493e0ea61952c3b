// Brannow: generates one simulated tissue phantom and runs the light
// simulator on it once, at lateral offset 0.

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
    bool emptyVolume = false;
  };

  InputParameters parseInput(int argc, char *argv[])
  {
    VEXA_INFO << "Parsing arguments...";
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
    parser.addArgument("empty-volume", "e", vexaCommandLineParser::Bool, "omit vessel structures (boolean flag)",
                       "Whether to create an empty volume with no structures inside.", us::Any(), true, false, false);
    parser.endGroup();

    std::map<std::string, us::Any> parsedArgs = parser.parseArguments(argc, argv);
    if (parsedArgs.size() == 0)
      std::exit(-1);

    InputParameters input;
    if (parsedArgs.count("empty-volume"))
      input.emptyVolume = us::any_cast<bool>(parsedArgs["empty-volume"]);
    if (parsedArgs.count("verbose"))
      input.verbose = us::any_cast<bool>(parsedArgs["verbose"]);
    if (parsedArgs.count("savePath"))
      input.savePath = us::any_cast<std::string>(parsedArgs["savePath"]);
    if (parsedArgs.count("vexaMcxyz"))
      input.simulatorPath = us::any_cast<std::string>(parsedArgs["vexaMcxyz"]);
    if (parsedArgs.count("probe"))
      input.probePath = us::any_cast<std::string>(parsedArgs["probe"]);
    if (parsedArgs.count("identifyer"))
      input.identifier = us::any_cast<std::string>(parsedArgs["identifyer"]);
    else
      input.identifier = vexa::UIDGenerator("", 8).GetUID();
    VEXA_INFO << "Parsing arguments...[Done]";
    return input;
  }

  vexa::pa::TissueGeneratorParameters::Pointer CreatePhantomParameters()
  {
    auto p = vexa::pa::TissueGeneratorParameters::New();
    p->SetAirThicknessInMillimeters(12);
    p->SetMinBackgroundAbsorption(0.1);
    p->SetMaxBackgroundAbsorption(0.1);
    p->SetBackgroundAnisotropy(0.9);
    p->SetBackgroundScattering(15);
    p->SetCalculateNewVesselPositionCallback(&vexa::pa::VesselMeanderStrategy::CalculateNewPositionInStraightLine);
    p->SetDoPartialVolume(true);
    p->SetMinNumberOfVessels(1);
    p->SetMaxNumberOfVessels(8);
    p->SetMinVesselAbsorption(1);
    p->SetMaxVesselAbsorption(10);
    p->SetMinVesselAnisotropy(0.9);
    p->SetMaxVesselAnisotropy(0.9);
    p->SetMinVesselBending(0.1);
    p->SetMaxVesselBending(0.3);
    p->SetMinVesselRadiusInMillimeters(0.25);
    p->SetMaxVesselRadiusInMillimeters(4);
    p->SetMinVesselScattering(15);
    p->SetMaxVesselScattering(15);
    p->SetMinVesselZOrigin(1.6);
    p->SetMaxVesselZOrigin(4);
    p->SetVesselBifurcationFrequency(5000);
    p->SetRngSeed(0);
    p->SetSkinThicknessInMillimeters(0);
    p->SetUseRngSeed(false);
    p->SetVoxelSpacingInCentimeters(0.03);
    p->SetXDim(140);
    p->SetYDim(100);
    p->SetZDim(180);
    p->SetRandomizePhysicalProperties(true);
    return p;
  }

  int Run(int argc, char *argv[])
  {
    const InputParameters input = parseInput(argc, argv);
    // refused before the phantom is made and saved for a simulator that cannot start
    vexa::CheckSimulator(input.simulatorPath);
    vexa::pa::TissueGeneratorParameters::Pointer parameters = CreatePhantomParameters();
    if (input.emptyVolume)
    {
      parameters->SetMaxNumberOfVessels(0);
      parameters->SetMinNumberOfVessels(0);
    }

    VEXA_INFO(input.verbose) << "Generating tissue..";
    vexa::pa::InSilicoTissueVolume::Pointer volume =
      vexa::pa::InSilicoTissueGenerator::GenerateInSilicoData(parameters);
    VEXA_INFO(input.verbose) << "Generating tissue..[Done]";

    const std::string savePath = vexa::AsFolder(input.savePath);
    vexa::MakeFolder(savePath + "input/");
    vexa::MakeFolder(savePath + "output/");

    const std::string inputFile = savePath + "input/Phantom_" + input.identifier + ".nrrd";
    vexa::IOUtil::Save(volume->ConvertToVexaImage(), inputFile);

    const std::string outputFolder = savePath + "output/Phantom_" + input.identifier + "/";
    vexa::MakeFolder(outputFolder);
    const std::string outputStem = outputFolder + "Fluence_Phantom_" + input.identifier;

    VEXA_INFO(input.verbose) << "Simulating fluence..";
    const std::string command = vexa::ShellQuoted(input.simulatorPath) + " -i " + vexa::ShellQuoted(inputFile) +
                                " -o " + vexa::ShellQuoted(outputStem + ".nrrd") + " -yo " + vexa::ShellQuoted("0") +
                                " -p " + vexa::ShellQuoted(input.probePath) + " -n " + vexa::ShellQuoted("10000000");
    VEXA_INFO << "Executing: " << command;
    const int status = vexa::RunShellCommand(command);
    VEXA_INFO << status;
    VEXA_INFO(input.verbose) << "Simulating fluence..[Done]";
    // the phantom is only useful with its fluence: a failed simulator run fails the program
    return status == 0 ? 0 : 1;
  }
}

int main(int argc, char *argv[])
{
  try
  {
    vexa::LogOutputWindow::Install();
    // a stop from outside during the save leaves no partial file behind
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
    std::cerr << "Brannow ended by an unknown error." << std::endl;
  }
  return 1;
}
