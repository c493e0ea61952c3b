#ifndef vexaPAInSilicoTissueGenerator_h
#define vexaPAInSilicoTissueGenerator_h

#include "VexaPhotoacousticsLibExports.h"
#include "vexaPAInSilicoTissueVolume.h"
#include "vexaPATissueGeneratorParameters.h"

namespace vexa
{
  namespace pa
  {
    /**
     * Makes a tissue volume from generator parameters: a background of one
     * absorption drawn from its range, an air layer and a skin layer at the
     * top, then the vessels. Each vessel enters through the x = 0 face at a
     * random lateral position and a depth from the depth range, heads along
     * +x and is walked by the chosen meander strategy in steps of half a
     * voxel until it leaves the volume; at each step it is painted as a
     * sphere of its radius (a tube overall), and with a bifurcation frequency
     * it may split into two branches of 2^(-1/3) of its radius.
     *
     * Without a fixed seed each call draws from a freshly seeded random
     * engine, so no two volumes of a run and no two runs are alike.
     */
    class VEXAPHOTOACOUSTICSLIB_EXPORT InSilicoTissueGenerator
    {
    public:
      /** Throws vexa::Exception for null or invalid parameters. */
      static InSilicoTissueVolume::Pointer GenerateInSilicoData(const TissueGeneratorParameters *parameters);
    };
  }
}

#endif
