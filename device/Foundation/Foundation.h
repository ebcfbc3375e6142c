// Foundation: the values, bundles, threads, run loops and logging the system uses.
#pragma once

#include "../objc/Block.h"
#include "../objc/runtime.h"

#include "NSArray.h"
#include "NSBundle.h"
#include "NSDictionary.h"
#include "NSError.h"
#include "NSLog.h"
#include "NSNumber.h"
#include "NSRunLoop.h"
#include "NSString.h"
#include "NSThread.h"
#include "NSUUID.h"
