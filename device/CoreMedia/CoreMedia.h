// CoreMedia: times, video format descriptions and compressed sample buffers.
#pragma once

#include "CMFormatDescription.h"
#include "CMSampleBuffer.h"
#include "CMTime.h"
