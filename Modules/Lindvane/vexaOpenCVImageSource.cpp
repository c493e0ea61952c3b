#include "vexaOpenCVImageSource.h"

vexa::OpenCVImageSource::OpenCVImageSource() = default;

vexa::OpenCVImageSource::~OpenCVImageSource() = default;
