#ifndef vexaLevelWindow_h
#define vexaLevelWindow_h

#include "VexaCoreExports.h"

#include <ostream>

namespace vexa
{
  class Image;

  /**
   * The grey-value window through which an image is shown: values at or
   * below the lower bound show black, at or above the upper bound white.
   *
   * The window (upper - lower, never empty) always lies inside the range
   * [range min, range max], which is at least as wide as the window: setting
   * a window that reaches outside the range widens the range, moving the
   * range never loses the window (it is clamped into the new range).
   * A plain value class; copies are independent.
   */
  class VEXACORE_EXPORT LevelWindow
  {
  public:
    /** Level = centre, window = width; the range starts as the window itself. */
    LevelWindow(double level = 127.5, double window = 255.0);

    double GetLevel() const { return (m_Lower + m_Upper) / 2.0; }
    double GetWindow() const { return m_Upper - m_Lower; }
    double GetLowerWindowBound() const { return m_Lower; }
    double GetUpperWindowBound() const { return m_Upper; }
    double GetRangeMin() const { return m_RangeMin; }
    double GetRangeMax() const { return m_RangeMax; }
    double GetRange() const { return m_RangeMax - m_RangeMin; }

    /** Non-finite arguments are ignored; a window of 0 or less becomes 1. */
    void SetLevelWindow(double level, double window);
    /** The same with the bounds (swapped when given the wrong way round). */
    void SetWindowBounds(double lower, double upper);
    /** The range (swapped when given the wrong way round; at least 1 wide); the window is clamped into it. */
    void SetRangeMinMax(double min, double max);

    /**
     * Sets range and window from the image's component `selectedComponent`
     * (component 0 by default); NaN and infinities are ignored. The range is
     * the smallest to the largest value. The window reads the histogram:
     *
     * - It starts at the 2nd to the 98th percentile (the bulk), which spreads
     *   out a dense image such as an ultrasound frame's speckle.
     * - Each end then moves towards the image's extreme on that side as far
     *   as the tail beyond it is long: a tail reaching t bulk widths (98th
     *   minus 2nd percentile) past the percentile moves the end by
     *   clamp((t - 3) / 3, 0, 1) of the way. Speckle and noise have tails of
     *   about one width and keep the percentiles; the bright structures of a
     *   sparse image (the absorbers of a beamformed photoacoustic image, a
     *   few pixels far above a dark background) lie dozens of widths out, and
     *   the window reaches them instead of drawing them all at one white.
     * - The extreme the end moves to is exact but ignores stray pixels: it is
     *   the value that 0.001 % of the finite values exceed (undercut), the
     *   very extreme in an image of fewer than 100,000 pixels.
     * - A bulk without spread (2nd = 98th percentile) takes those extremes.
     *
     * Percentiles come from a fixed sample of 65,536 values in an image of
     * more than 131,072 (all values in smaller ones): the same image always
     * gets the same window. The extremes come from one pass over every value.
     *
     * `guessByCentralSlice` looks only at the central slice of a 3-D image
     * (time step 0 always). An image without a finite value, or without
     * pixels, leaves the level window as it is and returns false.
     * `tryPicTags` is accepted for the toolkit's signature; there are no
     * tags to try.
     */
    bool SetAuto(const Image *image,
                 bool tryPicTags = true,
                 bool guessByCentralSlice = true,
                 unsigned int selectedComponent = 0);

    bool operator==(const LevelWindow &other) const;
    bool operator!=(const LevelWindow &other) const { return !(*this == other); }

  private:
    void ClampWindowIntoRange();

    double m_Lower;
    double m_Upper;
    double m_RangeMin;
    double m_RangeMax;
  };

  VEXACORE_EXPORT std::ostream &operator<<(std::ostream &os, const LevelWindow &levelWindow);
}

#endif
