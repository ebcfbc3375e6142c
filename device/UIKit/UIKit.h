// UIKit: colours, images, image contexts, the screen, views and view controllers.
#pragma once

#include "../CoreGraphics/CoreGraphics.h"

#include "UIColor.h"
#include "UIGraphics.h"
#include "UIImage.h"
#include "UIResponder.h"
#include "UIScreen.h"
#include "UIView.h"
