// The environment of the test program, set before main so that OpenCV sees
// it when it first builds its list of capture backends: the USB still-camera
// backend (which never frees its device lists and fails the leak check) is
// left out, OpenCV's warnings about inputs that fail on purpose are kept
// quiet, and under the thread sanitizer OpenCV works on the calling thread
// (its thread pool is not instrumented, so the sanitizer could not see its
// synchronisation).

#include <opencv2/core/utility.hpp>

#include <cstdlib>

namespace
{
  struct VexaUSTestEnvironment
  {
    VexaUSTestEnvironment()
    {
      setenv("OPENCV_VIDEOIO_PRIORITY_GPHOTO2", "0", 0);
      setenv("OPENCV_LOG_LEVEL", "ERROR", 0);
#if defined(__SANITIZE_THREAD__)
      cv::setNumThreads(0);
#endif
    }
  };
  const VexaUSTestEnvironment environment;
}
