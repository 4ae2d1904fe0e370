// Placeholder until this part of the lander is built.
#include "lander/Lander.h"
#include "lander/ModuleState.h"

void Lander::DefineAnimations() {
    animSolar = animCamera = animLegs = animFeet = animDeck = animArmRot = animArmSlide = animArmElbow = 0;
}
