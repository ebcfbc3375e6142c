// Halving a decoded picture: each side half as long (rounded up), each output sample the mean of a
// 2x2 block, for 8-bit planar 4:2:0 pictures (what H.264, HEVC and VP9 decoders give out). This
// is how a reduced-resolution decompression session makes small pictures from a codec that
// cannot decode small by itself: cheaper, and smoother, than scaling while converting to BGRA.
//
// Keeps no state: any thread.
#pragma once

struct AVFrame;

// A new picture (the caller frees it with av_frame_free) with `picture`'s colour properties and
// timing; nullptr when the picture is not 8-bit planar 4:2:0 or memory runs out.
AVFrame* halvePicture(const AVFrame& picture);
