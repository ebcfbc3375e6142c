// Private to media/: the CoreMedia view of a libavformat stream.
#pragma once

#include <string>

#include "../CoreMedia/CMSampleBuffer.h"
#include "../CoreMedia/CoreMediaDevice.h"

#include "../base/StatusOr.h"

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/rational.h>
}

// A format description for the video stream `parameters` (codec, coded size, extradata); an error
// naming `name` when the codec has no FourCC or the size is unusable.
device::StatusOr<FormatDescriptionHolder> formatDescriptionForStream(const AVCodecParameters& parameters,
                                                                     const std::string& name);
// A timestamp `ts` in `timeBase` as a CMTime (exact: value ts*num, timescale den); kCMTimeInvalid
// for AV_NOPTS_VALUE, an unusable time base or a value that does not fit.
CMTime timeFromStream(int64_t ts, AVRational timeBase);
