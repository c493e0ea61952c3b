#ifndef vexaLindvaneTestSupport_h
#define vexaLindvaneTestSupport_h

// Shared by Lindvane's tests: a temporary folder per test and numbered video
// files written on the spot (VexaTestSupport's), so that every test reads
// real files.

#include <vexaTestTemporaryFolder.h>
#include <vexaTestVideos.h>
#include <vexaTestWaitUntil.h>

#include <string>

namespace lindvane_test
{
  using vexa::test::NumberedVideoFrame;
  using vexa::test::TemporaryFolder;
  using vexa::test::WaitUntil;

  /** A numbered clip in the folder (32 x 24 unless told otherwise); its path. */
  inline std::string WriteNumberedVideo(const TemporaryFolder &folder,
                                        int frames,
                                        int width = 32,
                                        int height = 24,
                                        const std::string &name = "numbered.avi")
  {
    const std::string path = folder.File(name);
    vexa::test::WriteNumberedVideo(path, frames, width, height);
    return path;
  }
}

#endif
