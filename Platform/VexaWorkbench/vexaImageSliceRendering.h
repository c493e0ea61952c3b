#ifndef vexaImageSliceRendering_h
#define vexaImageSliceRendering_h

#include "VexaWorkbenchHostExports.h"

#include <vexaImage.h>
#include <vexaLevelWindow.h>

#include <QImage>
#include <QSize>

namespace vexa
{
  /**
   * Draws the central slice (time step 0) of `image` through `levelWindow`
   * into `target`: values at or below the lower bound black, at or above the
   * upper bound white, linear between; NaN black. Grey images of any
   * component type give an 8-bit grey QImage; 3- and 4-component 8-bit
   * images (RGB, RGBA) an RGB QImage with the window applied to each colour;
   * other multi-component images show their component 0. Row 0 of the image
   * is the top row. `target` is reused when its size and format fit.
   *
   * The picture has `size` pixels (the slice's own size when `size` is
   * empty): each picture pixel shows the slice pixel under its centre, as a
   * toolkit's render window samples an image texture. So the cost is that
   * of the picture, not of the image, and a large image is drawn at screen
   * resolution; an enlarged image keeps its pixels square-edged, and a
   * shrunk one keeps the values (and signs) of the pixels it shows, where a
   * mean would cancel the swings of a beamformed or raw radio-frequency
   * signal. What lies between two sampled pixels is not shown.
   *
   * False (target untouched) for an image without pixels.
   */
  VEXAWORKBENCHHOST_EXPORT bool RenderImageSlice(const Image *image,
                                                 const LevelWindow &levelWindow,
                                                 QImage &target,
                                                 QSize size = QSize());
}

#endif
