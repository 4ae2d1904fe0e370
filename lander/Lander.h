// The lander vessel: three throttleable descent engines that double as pitch
// and bank actuators, four yaw thrusters, legs, feet, two solar panels, an
// instrument deck with arm, camera and lidar. Members are laid out in the
// order the rest of the module relies on; everything shared between landers
// lives in ModuleState.h.
#pragma once

#include "host/Orbitersdk.h"

// Status of a deployable mechanism. Anything below Retracting is at rest;
// Deploying or any larger value deploys.
enum MechStatus : int { MECH_RETRACTED = 0, MECH_DEPLOYED = 1, MECH_RETRACTING = 2, MECH_DEPLOYING = 3 };

// Command for one arm joint for the next step.
enum ArmCommand : int { ARM_NONE = 0, ARM_INCREASE = 1, ARM_DECREASE = 2 };

class Lander final : public VESSEL2 {
public:
    Lander(OBJHANDLE hVessel, int fmodel);

    // Host callbacks, in the order of the base class's slots.
    void clbkSetClassCaps(FILEHANDLE cfg) override;
    void clbkSaveState(FILEHANDLE scn) override;
    void clbkLoadStateEx(FILEHANDLE scn, void *status) override;
    void clbkPostCreation() override;
    void clbkPreStep(double simt, double simdt, double mjd) override;
    void clbkPostStep(double simt, double simdt, double mjd) override;
    void clbkDrawHUD(int mode, const HUDPAINTSPEC *hps, HDC hDC) override;
    int clbkConsumeDirectKey(char *kstate) override;
    int clbkConsumeBufferedKey(DWORD key, bool down, char *kstate) override;

    // Operations.
    void DefineAnimations();
    void AddDustStreams();
    void AutoDescent();
    void TerminalThrust();
    void AlignHeading();
    void ShowCrashWarning();
    void ToggleSolarPanels();
    void ToggleDeck();

    // Members, in declaration order.
    int solarStatus;
    int legsStatus;
    int feetStatus;
    int deckStatus;
    THRUSTER_HANDLE thYaw[4];
    THRUSTER_HANDLE thEngine[3];
    THRUSTER_HANDLE thGroupList[3];
    THRUSTER_HANDLE thLidar;
    PROPELLANT_HANDLE phMain;
    PROPELLANT_HANDLE phLidar;
    NOTEHANDLE crashNote;
    ANIMATIONCOMPONENT_HANDLE legLinkComp[6];
    ANIMATIONCOMPONENT_HANDLE legStrutComp[3];
    ANIMATIONCOMPONENT_HANDLE deckChainComp[3];
    ANIMATIONCOMPONENT_HANDLE solarChainComp[4];
    ANIMATIONCOMPONENT_HANDLE armComp[3];
    UINT animSolar;
    UINT animCamera;
    UINT animLegs;
    UINT animFeet;
    UINT animDeck;
    UINT animArmRot;
    UINT animArmSlide;
    UINT animArmElbow;
    double solarPos;
    double cameraPos;
    double legsPos;
    double feetPos;
    double deckPos;
    double armRotPos;
    double armSlidePos;
    double armElbowPos;
};

// Lift coefficient against angle of attack (rad): the lander has no lifting
// surfaces, so the curve is zero everywhere.
double LiftCoeff(double aoa);
