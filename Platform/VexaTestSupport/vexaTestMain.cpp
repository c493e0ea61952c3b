// The main of every test program (vexa_add_module links it in place of
// GoogleTest's own): the program is set up the way the system's programs set
// themselves up (ITK's output window writes into the log), and the settings
// of the libraries it tests are made once, here, before the first test,
// whether ctest or a developer starts the program. An environment value set
// from outside wins; child programs inherit the environment.

#include <vexaLogOutputWindow.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/core/utils/logger.defines.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>

// OpenCV's settings reach only programs that have OpenCV: these references
// are weak, so a test program that does not use OpenCV does not load it for
// them (the linker keeps only libraries that a strong reference needs).
namespace cv
{
  void setNumThreads(int threads) __attribute__((weak));
  namespace utils
  {
    namespace logging
    {
      LogLevel setLogLevel(LogLevel level) __attribute__((weak));
    }
  }
}

namespace
{
  // When a camera or file cannot be opened OpenCV asks every capture backend
  // in turn; the last one, libgphoto2's USB still-camera detection, never
  // frees its device lists and fails the leak check of the sanitizer build.
  // No such camera exists on a test machine, so the tests leave that backend
  // out (OpenCV reads the priorities when it first opens a capture). OpenCV's
  // warnings about inputs that fail on purpose are kept quiet: OpenCV reads
  // the variable when it is loaded, before main, so this process is told
  // through the call and its child programs through the variable. Under the
  // thread sanitizer OpenCV runs its work on the calling thread: its thread
  // pool (TBB) is not instrumented, so the sanitizer could not see the pool's
  // synchronisation and would report OpenCV's internals instead of the tested
  // code's threads.
  void SetUpOpenCV()
  {
    ::setenv("OPENCV_VIDEOIO_PRIORITY_GPHOTO2", "0", 0);
    if (!std::getenv("OPENCV_LOG_LEVEL"))
    {
      ::setenv("OPENCV_LOG_LEVEL", "ERROR", 0);
      if (&cv::utils::logging::setLogLevel)
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    }
#if defined(__SANITIZE_THREAD__)
    if (&cv::setNumThreads)
      cv::setNumThreads(0);
#endif
  }
}

int main(int argc, char **argv)
{
  try
  {
    // the test's widgets, and the programs it starts, draw on Qt's offscreen
    // platform unless told otherwise (as QtApplication::Instance() has it)
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    SetUpOpenCV();
    vexa::LogOutputWindow::Install();
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
  }
  catch (const std::exception &e)
  {
    std::fprintf(stderr, "test program ended by an exception: %s\n", e.what());
  }
  catch (...)
  {
    std::fprintf(stderr, "test program ended by an exception of unknown type\n");
  }
  return 1;
}
