// Evaluates a vessel's animations as the host draws them: the transform of
// every animated mesh group at the current animation states. Each component
// acts over its state range relative to the animation's initial state (the
// state in which the mesh is modelled), and a child is carried by its parent.
#pragma once

#include <vector>

#include <Eigen/Geometry>

#include "sim/vessel/Vessel.h"

namespace vtal::sim {

using Transform = Eigen::Affine3d;

struct GroupPose {
    UINT mesh = 0;
    UINT group = 0;
    Transform transform = Transform::Identity();
};

// Fraction of a component's travel at a state: 0 before state0, 1 after state1.
double ComponentFraction(const AnimationComponent &c, double state);
// The component's own motion at a fraction of its travel, in the mesh frame.
Transform ComponentMotion(const MGROUP_TRANSFORM &t, double fraction, double initialFraction);
// The component's motion carried by its ancestors.
Transform CarriedMotion(const Vessel &v, const AnimationComponent &c);
// Every animated group with its transform, ordered by mesh and group.
std::vector<GroupPose> EvaluateGroupPoses(const Vessel &v);
// The transform of one group (identity if no component moves it).
Transform GroupTransform(const Vessel &v, UINT mesh, UINT group);

}  // namespace vtal::sim
