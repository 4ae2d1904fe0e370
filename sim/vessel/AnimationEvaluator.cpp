#include "sim/vessel/AnimationEvaluator.h"

#include <algorithm>

namespace vtal::sim {

double ComponentFraction(const AnimationComponent &c, double state) {
    if (c.state1 <= c.state0) return state >= c.state0 ? 1.0 : 0.0;
    return std::clamp((state - c.state0) / (c.state1 - c.state0), 0.0, 1.0);
}

Transform ComponentMotion(const MGROUP_TRANSFORM &t, double fraction, double initialFraction) {
    const double f = fraction - initialFraction;
    Transform out = Transform::Identity();
    switch (t.Type()) {
    case MGROUP_TRANSFORM::ROTATE: {
        const auto &r = static_cast<const MGROUP_ROTATE &>(t);
        const Vec3 ref = ToVec(r.ref), axis = ToVec(r.axis);
        if (axis.norm() == 0.0) break;
        const double angle = static_cast<double>(r.angle) * f;
        out = Eigen::Translation3d(ref) * Eigen::AngleAxisd(angle, axis.normalized()) *
              Eigen::Translation3d(-ref);
        break;
    }
    case MGROUP_TRANSFORM::TRANSLATE: {
        const auto &s = static_cast<const MGROUP_TRANSLATE &>(t);
        out = Eigen::Translation3d(ToVec(s.shift) * f);
        break;
    }
    case MGROUP_TRANSFORM::SCALE: {
        const auto &s = static_cast<const MGROUP_SCALE &>(t);
        const Vec3 ref = ToVec(s.ref), full = ToVec(s.scale);
        const Vec3 ones = Vec3::Ones();
        const Vec3 now = ones + fraction * (full - ones);
        const Vec3 modelled = ones + initialFraction * (full - ones);
        if ((modelled.array() == 0.0).any()) break;
        out = Eigen::Translation3d(ref) * Eigen::Scaling(Vec3(now.cwiseQuotient(modelled))) *
              Eigen::Translation3d(-ref);
        break;
    }
    default:
        break;
    }
    return out;
}

Transform CarriedMotion(const Vessel &v, const AnimationComponent &c) {
    Transform motion = Transform::Identity();
    // Up the chain: each ancestor's motion is applied after its child's.
    int depth = 0;
    for (const AnimationComponent *k = &c; k && depth < 1000; k = k->parent, ++depth) {
        if (!k->transform || k->animation >= v.actuators.animations.size()) continue;
        const Animation &a = v.actuators.animations[k->animation];
        motion = ComponentMotion(*k->transform, ComponentFraction(*k, a.state),
                                 ComponentFraction(*k, a.initialState)) *
                 motion;
    }
    return motion;
}

std::vector<GroupPose> EvaluateGroupPoses(const Vessel &v) {
    std::vector<GroupPose> poses;
    // Components in creation order; a group moved by several is moved by each in turn.
    for (const auto &c : v.actuators.components) {
        if (!c->transform || !c->transform->grp) continue;
        const Transform motion = CarriedMotion(v, *c);
        for (UINT i = 0; i < c->transform->ngrp; ++i) {
            const UINT group = c->transform->grp[i];
            auto it = std::find_if(poses.begin(), poses.end(), [&](const GroupPose &p) {
                return p.mesh == c->transform->mesh && p.group == group;
            });
            if (it == poses.end()) {
                poses.push_back(GroupPose{c->transform->mesh, group, motion});
            } else {
                it->transform = motion * it->transform;
            }
        }
    }
    std::sort(poses.begin(), poses.end(), [](const GroupPose &a, const GroupPose &b) {
        return a.mesh != b.mesh ? a.mesh < b.mesh : a.group < b.group;
    });
    return poses;
}

Transform GroupTransform(const Vessel &v, UINT mesh, UINT group) {
    for (const GroupPose &p : EvaluateGroupPoses(v))
        if (p.mesh == mesh && p.group == group) return p.transform;
    return Transform::Identity();
}

}  // namespace vtal::sim
