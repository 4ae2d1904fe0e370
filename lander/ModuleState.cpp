#include "lander/ModuleState.h"

namespace vtal {

ModuleState moduleState;

}  // namespace vtal
