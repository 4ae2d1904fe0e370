#include "lander/ModuleState.h"

namespace vtal {

ModuleState moduleState;

}  // namespace vtal

namespace vtal {

AnimationTransforms animationTransforms;

}  // namespace vtal
