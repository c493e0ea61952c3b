// Writes the raw recordings that the build makes for Kestrol:
//   KestrolSample <output.nrrd>            the raw sample of the main job
//   KestrolSample --phantom <output.nrrd>  the five-absorber phantom

#include "vexaRawPhotoacousticPhantom.h"
#include "vexaRawPhotoacousticSample.h"

#include <vexaException.h>
#include <vexaIOUtil.h>
#include <vexaLogOutputWindow.h>

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
  const bool phantom = argc == 3 && std::string(argv[1]) == "--phantom";
  if (argc != 2 && !phantom)
  {
    std::cerr << "usage: KestrolSample [--phantom] <output.nrrd>" << std::endl;
    return 2;
  }
  try
  {
    vexa::LogOutputWindow::Install();
    vexa::IOUtil::Save(phantom ? vexa::RawPhotoacousticPhantom::Make() : vexa::RawPhotoacousticSample::Make(),
                       argv[argc - 1]);
    return 0;
  }
  catch (const itk::ExceptionObject &e)
  {
    std::cerr << e.GetDescription() << std::endl;
  }
  catch (const std::exception &e)
  {
    std::cerr << e.what() << std::endl;
  }
  return 1;
}
