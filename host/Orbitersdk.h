// Everything a vessel module includes from the host SDK.
#pragma once

#include "OrbiterAPI.h"
#include "VesselAPI.h"
