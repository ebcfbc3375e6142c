// CMSampleBuffer: one compressed video sample with its timing and format.
#pragma once

typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;
