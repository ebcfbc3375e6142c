// A generated clip that costs what real video costs to decode: a disc moving over soft gradients
// with a little sparse grain, about 6 Mbit/s at 1080p and 30 fps once encoded.
#pragma once

#include <string>

#include <media/BgraImage.h>
#include <media/ClipWriter.h>

// Frame `index` of the scene; `seed` carries the grain from frame to frame.
BgraImage sceneFrame(int width, int height, int index, unsigned& seed);

// Writes `frames` frames of the scene to `path` at 30 fps with a keyframe every second, or says
// why not.
device::Status writeSceneClip(const std::string& path, ClipCodec codec, int width, int height, int frames);
