// The environment of the test program, set before main so that OpenCV sees
// it when it first builds its list of capture backends.
//
// When a camera or file cannot be opened OpenCV asks every backend in turn;
// the last one, libgphoto2's USB still-camera detection, never frees its
// device lists and fails the leak check of the sanitizer build. No such
// camera exists on a test machine, so the tests leave that backend out.
// OpenCV's own warnings about inputs that fail on purpose are kept quiet.
//
// Under the thread sanitizer OpenCV runs its own work on the calling thread:
// its thread pool (TBB) is not instrumented, so the sanitizer cannot see the
// pool's synchronisation and would report OpenCV's internals instead of this
// library's threads.

#include <opencv2/core/utility.hpp>

#include <cstdlib>

namespace
{
  struct LindvaneTestEnvironment
  {
    LindvaneTestEnvironment()
    {
      setenv("OPENCV_VIDEOIO_PRIORITY_GPHOTO2", "0", 0);
      setenv("OPENCV_LOG_LEVEL", "ERROR", 0);
#if defined(__SANITIZE_THREAD__)
      cv::setNumThreads(0);
#endif
    }
  };
  const LindvaneTestEnvironment environment;
}
