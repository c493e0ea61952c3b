#ifndef vexaUltrasoundSample_h
#define vexaUltrasoundSample_h

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace vexa
{
  namespace sample
  {
    /**
     * The frames of the sample clip: speckle (a fixed random texture,
     * smoothed, values below 170) drifting down by two rows a frame, and a
     * target of value 255 and radius TargetRadius that circles the picture's
     * centre once every CircleFrames frames. The target's centre in frame i
     * is TargetCentre(i), so a test can tell which frame it sees.
     */
    struct UltrasoundClip
    {
      static constexpr int Width = 256;
      static constexpr int Height = 192;
      static constexpr int Frames = 100;
      static constexpr double FramesPerSecond = 25.0;
      static constexpr int CircleFrames = 100; // one turn every 4 s
      static constexpr int TargetRadius = 10;
      static constexpr int CircleRadius = 60;

      UltrasoundClip()
      {
        cv::Mat noise(2 * Height, Width, CV_32F);
        cv::RNG random(20261210);
        random.fill(noise, cv::RNG::NORMAL, 0.0, 1.0);
        // The texture is a ring of rows (the drift wraps round): it is
        // smoothed across its wrap as anywhere else, so that no seam drifts
        // through the picture. The blur takes no wrapping border itself.
        const int margin = 16; // beyond the reach of the blur's kernel
        cv::Mat ring;
        cv::copyMakeBorder(noise, ring, margin, margin, 0, 0, cv::BORDER_WRAP);
        cv::GaussianBlur(ring, ring, cv::Size(0, 0), 1.2, 1.6);
        cv::Mat magnitude = cv::abs(ring.rowRange(margin, margin + 2 * Height));
        double low = 0, high = 0;
        cv::minMaxLoc(magnitude, &low, &high);
        magnitude.convertTo(m_Texture, CV_8U, 170.0 / high);
      }

      static cv::Point TargetCentre(int frame)
      {
        const double angle = 2.0 * 3.14159265358979 * (frame % CircleFrames) / CircleFrames;
        return cv::Point(Width / 2 + static_cast<int>(std::lround(CircleRadius * std::cos(angle))),
                         Height / 2 + static_cast<int>(std::lround(0.6 * CircleRadius * std::sin(angle))));
      }

      cv::Mat Frame(int frame) const
      {
        const int shift = (2 * frame) % (2 * Height);
        cv::Mat picture(Height, Width, CV_8U);
        for (int y = 0; y < Height; ++y)
          m_Texture.row((y - shift + 2 * Height) % (2 * Height)).copyTo(picture.row(y));
        cv::circle(picture, TargetCentre(frame), TargetRadius, cv::Scalar(255), cv::FILLED, cv::LINE_8);
        return picture;
      }

    private:
      cv::Mat m_Texture;
    };
  }
}

#endif
