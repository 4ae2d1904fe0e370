// A simple geometric model of a vessel, built from its definition as the
// host sees it (thruster positions, touchdown points, the hinge points and
// axes of its animation components): one part per mesh group that the
// animations move, placed so that each animation turns, slides or stretches
// that part about its own hinge, plus a body that nothing moves. It stands in
// for a mesh file that this installation does not have, in the replay page
// and as a placeholder mesh in the host's text format.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "sim/vessel/Vessel.h"

namespace vtal::sim {

struct ModelPart {
    UINT mesh = 0;
    UINT group = 0;
    bool animated = false;  // false: body parts that no animation moves
    std::string label;      // what the part stands for, e.g. "fan segment"
    std::array<float, 3> colour{0.8f, 0.8f, 0.8f};
    // Vessel frame (the host's left-handed x right, y up, z forward), metres.
    std::vector<Vec3> vertices;
    std::vector<Vec3> normals;  // one per vertex
    // Front faces wind clockwise seen from outside, as the host draws them.
    std::vector<std::array<unsigned, 3>> triangles;
};

struct StandInModel {
    std::vector<ModelPart> parts;
    // The part of a group, or null.
    const ModelPart *Find(UINT mesh, UINT group) const;
    // Centre and radius of a sphere around every vertex, vessel frame.
    Vec3 Centre() const;
    double Radius() const;
};

// Every mesh group that some animation component of the vessel moves (mesh,
// group), without repeats, in order.
std::vector<std::pair<UINT, UINT>> AnimatedGroups(const Vessel &v);

StandInModel BuildStandInModel(const Vessel &v);

// The model as a mesh file in the host's text format (MSHX1): one group per
// group number of mesh 0 from 0 to the highest animated one, so that the
// module's group numbers address the matching parts; numbers without a part
// hold one small triangle hidden inside the body.
std::string ToMeshFile(const StandInModel &model);

}  // namespace vtal::sim
