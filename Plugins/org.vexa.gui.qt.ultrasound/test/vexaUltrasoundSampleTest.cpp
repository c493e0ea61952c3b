// The sample clip that `./vexa workbench` plays, frame by frame: its speckle
// drifts down and wraps round without a seam, a line across the picture that
// a person would take for a fault of the viewer.

#include "vexaUltrasoundSample.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using vexa::sample::UltrasoundClip;

TEST(UltrasoundSample, TheSpeckleWrapsRoundWithoutASeam)
{
  const UltrasoundClip clip;
  // two rows a frame: in the clip's frames the texture's wrap passes every row of the picture
  for (int frame = 0; frame < UltrasoundClip::Frames; ++frame)
  {
    SCOPED_TRACE(frame);
    const cv::Mat picture = clip.Frame(frame);
    // the mean step from each row to the next, over the columns the target leaves alone
    const int target = UltrasoundClip::TargetCentre(frame).x;
    std::vector<double> steps;
    double sum = 0.0;
    for (int y = 1; y < picture.rows; ++y)
    {
      double step = 0.0;
      int columns = 0;
      for (int x = 0; x < picture.cols; ++x)
        if (std::abs(x - target) > UltrasoundClip::TargetRadius + 1)
        {
          step += std::abs(picture.at<uchar>(y, x) - picture.at<uchar>(y - 1, x));
          ++columns;
        }
      steps.push_back(step / columns);
      sum += steps.back();
    }
    // smoothed speckle changes alike from row to row; the seam of a texture
    // that does not wrap round steps about three times as far
    const double mean = sum / static_cast<double>(steps.size());
    for (std::size_t row = 0; row < steps.size(); ++row)
      ASSERT_LT(steps[row], 2.0 * mean) << "between rows " << row << " and " << row + 1;
  }
}
