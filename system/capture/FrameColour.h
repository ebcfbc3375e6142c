// Reducing a frame to one colour, the colour message, and the two ways of sending it to the
// colour server in the home-screen process.
//
// Stateless: each call makes and frees what it needs, so every function may be called from any
// thread, also from several at once (the frame clock on the main thread, the decoder's callback
// on its own).
#pragma once

#include <Foundation/Foundation.h>
#include <MRYIPC/MRYIPCCenter.h>
#include <UIKit/UIKit.h>

// The colour of one frame pixel: the whole image drawn with interpolation off and copy blending
// into a one-pixel context. Red, green and blue are the stored (premultiplied) bytes divided by 255
// in single precision; alpha is 1. A nil image gives black. The caller owns the colour.
Strong<UIColor> sampleImageColor(UIImage* image);

// The colour message: "%f,%f,%f,%f" of red, green, blue and alpha.
Strong<NSString> colorMessageFromColor(UIColor* colour);

// The client end of the colour channel, looked up anew for every message. Lent.
MRYIPCCenter* colourServerCenter();
// Sends the message to the colour server without waiting; a message no server takes is lost.
void sendColorMessage(MRYIPCCenter* center, NSString* message);
// Sends the message; when the server has handled it, `readyForUpdates` becomes YES.
void sendAcknowledgedColorMessage(MRYIPCCenter* center, NSString* message);
