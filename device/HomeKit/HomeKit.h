// HomeKit: homes, rooms, accessories, services and characteristics, and the manager that loads them.
#pragma once

#include "../Foundation/Foundation.h"

#include "HMAccessory.h"
#include "HMCharacteristic.h"
#include "HMCharacteristicMetadata.h"
#include "HMError.h"
#include "HMHome.h"
#include "HMHomeManager.h"
#include "HMRoom.h"
#include "HMService.h"
#include "HMTypes.h"
