// The per-step motion of the lander's mechanisms: the four deployables
// (solar panels, legs, instrument deck, feet) travel between stowed and
// deployed at their own rates, the camera turns while it is switched on, and
// each arm joint moves by one step's worth whenever the keyboard has set its
// command for this step.
#include <cmath>

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace {

// Rates in animation state per second of simulation time.
const double kSolarRate = 0.1;    // panels unfold in 10 s
const double kLegsRate = 1.0;     // legs in 1 s
const double kDeckRate = 0.25;    // instrument deck in 4 s
const double kFeetRate = 10.0;    // feet in 0.1 s
const double kCameraRate = 0.025; // one camera turn in 40 s
const double kArmRate = 0.1;      // each arm joint over its travel in 10 s

const double kStowed = 0.0;
const double kDeployed = 1.0;
const double kFullTurn = 1.0;  // the camera animation is one turn over 0..1

// Moves a deployable one step towards the end its status asks for. The
// status settles one step after the state has reached its end, so the host
// is told the final state in the step that settles it too. Returns whether
// the mechanism is moving (and its state must be handed to the host).
bool StepDeployable(int &status, double &pos, double delta) {
    if (status < MECH_RETRACTING) return false;
    if (status == MECH_RETRACTING) {
        if (pos > kStowed) {
            pos -= delta;
            if (pos < kStowed) pos = kStowed;
        } else {
            status = MECH_RETRACTED;
        }
    } else {
        if (pos < kDeployed) {
            pos += delta;
            if (pos > kDeployed) pos = kDeployed;
        } else {
            status = MECH_DEPLOYED;
        }
    }
    return true;
}

// Applies one arm command to its joint and consumes it. Any other command
// value is left alone for whoever set it. Returns whether the joint moved.
bool StepArmJoint(int &command, double &pos, double delta) {
    if (command == ARM_INCREASE) {
        pos += delta;
        if (pos > kDeployed) pos = kDeployed;
        if (pos < kStowed) pos = kStowed;
    } else if (command == ARM_DECREASE) {
        pos -= delta;
        if (pos < kStowed) pos = kStowed;
        if (pos > kDeployed) pos = kDeployed;
    } else {
        return false;
    }
    command = ARM_NONE;
    return true;
}

}  // namespace

namespace {

// A stowed or retracting mechanism starts (or turns back) to deploy; any
// other starts (or turns back) to retract, from wherever it stands.
void Toggle(int &status) {
    status = (status == MECH_RETRACTED || status == MECH_RETRACTING) ? MECH_DEPLOYING : MECH_RETRACTING;
}

}  // namespace

void Lander::ToggleSolarPanels() { Toggle(solarStatus); }

void Lander::ToggleDeck() { Toggle(deckStatus); }

void Lander::clbkPostStep(double /*simt*/, double simdt, double /*mjd*/) {
    // The host's time only runs forward. A step length that is not a number,
    // or negative, could carry a state past the clamps into a non-number
    // that would reach the host; such a step moves nothing.
    if (!(simdt >= 0.0)) return;

    struct Deployable {
        int &status;
        double &pos;
        UINT anim;
        double rate;
    };
    const Deployable deployables[] = {
        {solarStatus, solarPos, animSolar, kSolarRate},
        {legsStatus, legsPos, animLegs, kLegsRate},
        {deckStatus, deckPos, animDeck, kDeckRate},
        {feetStatus, feetPos, animFeet, kFeetRate},
    };
    for (const Deployable &d : deployables)
        if (StepDeployable(d.status, d.pos, d.rate * simdt)) SetAnimation(d.anim, d.pos);

    vtal::ModuleState &shared = vtal::moduleState;
    if (shared.cameraSpin == 1) {
        double next = cameraPos + kCameraRate * simdt;
        if (next > kFullTurn) next -= kFullTurn;  // one wrap; exactly one turn stays
        // Only a step of astronomical length could carry the camera beyond the
        // range of a double; such a step leaves it where it is.
        if (std::isfinite(next)) {
            cameraPos = next;
            SetAnimation(animCamera, cameraPos);
        }
    }

    struct ArmJoint {
        int &command;
        double &pos;
        UINT anim;
    };
    const ArmJoint joints[] = {
        {shared.armRotCmd, armRotPos, animArmRot},
        {shared.armSlideCmd, armSlidePos, animArmSlide},
        {shared.armElbowCmd, armElbowPos, animArmElbow},
    };
    for (const ArmJoint &j : joints)
        if (StepArmJoint(j.command, j.pos, kArmRate * simdt)) SetAnimation(j.anim, j.pos);
}
