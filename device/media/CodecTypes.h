// Private to media/: the one table between CoreMedia's codec FourCCs and libavcodec's codec ids.
#pragma once

#include "../CoreMedia/CMFormatDescription.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

// The FourCC for a libavcodec codec; 0 when the device has none for it.
CMVideoCodecType codecTypeForCodecId(AVCodecID codecId);
// The libavcodec codec for a FourCC; AV_CODEC_ID_NONE when unknown.
AVCodecID codecIdForCodecType(CMVideoCodecType codecType);
