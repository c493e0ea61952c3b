// Writes the raw photoacoustic sample that the main job beamforms with
// Kestrol: KestrolSample <output.nrrd>

#include "vexaRawPhotoacousticSample.h"

#include <vexaException.h>
#include <vexaIOUtil.h>

#include <exception>
#include <iostream>

int main(int argc, char **argv)
{
  if (argc != 2)
  {
    std::cerr << "usage: KestrolSample <output.nrrd>" << std::endl;
    return 2;
  }
  try
  {
    vexa::IOUtil::Save(vexa::RawPhotoacousticSample::Make(), argv[1]);
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
