#include "sim/view/StandInModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

#include "sim/vessel/AnimationEvaluator.h"

namespace vtal::sim {
namespace {

// ---- sizes of the stand-in parts, m
constexpr double kSameRefDistance = 1e-3;   // hinge points closer than this are one point
constexpr double kBoomMinLength = 0.05;     // a child hinge this far away makes a boom towards it
constexpr double kParallelSine = 0.05;      // axes closer than this are parallel
constexpr double kFanRadiusShare = 0.8;     // fan radius as a share of the swing arm that carries it
constexpr double kDefaultFanRadius = 0.5;
constexpr int kFanArcSteps = 4;
constexpr double kSheetThickness = 0.01;
constexpr double kBeamThickness = 0.04;
constexpr double kLinkThickness = 0.03;
constexpr double kLinkShareOfFootDistance = 0.5;  // a leg link reaches half-way to its touchdown point
constexpr double kStrutShareOfReach = 0.6;        // a strut is this share of its foot's distance from the centre
constexpr double kForearmShare = 0.8;             // a folded arm segment, as a share of the one carrying it
constexpr double kPlateWidth = 0.3, kPlateLength = 0.25, kPlateThickness = 0.02;
constexpr double kPadRadius = 0.12, kPadHalfHeight = 0.04;
constexpr double kHeadLength = 0.16, kHeadHalfSize = 0.05;
constexpr double kColumnRadius = 0.02, kDefaultColumnHeight = 0.05;
constexpr double kFittingHalfSize = 0.03;   // small blocks: the further groups of a component, thrusters
constexpr double kFittingSpacing = 0.06;
constexpr double kBodyClearance = 0.1;      // body radius beyond the outermost engine
constexpr double kDeckMinHeight = 0.1;      // hinges above this (vessel y) sit on the deck
constexpr double kBellLength = 0.15, kBellThroat = 0.05, kBellExit = 0.1;
constexpr int kRoundSteps = 12;
constexpr double kHiddenTriangleSize = 1e-3;

using Colour = std::array<float, 3>;
const Colour kBodyColour{0.85f, 0.66f, 0.22f};   // foil
const Colour kEngineColour{0.3f, 0.3f, 0.32f};
const Colour kFanColour{0.16f, 0.26f, 0.62f};    // solar cells
const Colour kBeamColour{0.78f, 0.78f, 0.8f};
const Colour kPlateColour{0.93f, 0.93f, 0.9f};
const Colour kPadColour{0.55f, 0.55f, 0.58f};
const Colour kHeadColour{0.22f, 0.22f, 0.25f};
const Colour kFittingColour{0.62f, 0.62f, 0.66f};

const Vec3 kUp = Vec3::UnitY();

// ---- geometry into a part
class Shapes {
public:
    explicit Shapes(ModelPart &part) : p_(part) {}

    // A flat convex polygon facing `outward`.
    void Face(std::vector<Vec3> corners, const Vec3 &outward) {
        if (corners.size() < 3) return;
        const Vec3 n = (corners[1] - corners[0]).cross(corners[2] - corners[0]);
        if (n.dot(outward) < 0.0) std::reverse(corners.begin(), corners.end());
        const unsigned first = static_cast<unsigned>(p_.vertices.size());
        const Vec3 unit = outward.normalized();
        for (const Vec3 &c : corners) {
            p_.vertices.push_back(c);
            p_.normals.push_back(unit);
        }
        // The host draws clockwise faces as front faces; with the ordinary
        // cross product that is the order whose normal points out.
        for (unsigned k = 1; k + 1 < corners.size(); ++k) p_.triangles.push_back({first, first + k, first + k + 1});
    }

    // A box on orthonormal axes u, v, w with half sizes h.
    void Box(const Vec3 &centre, const Vec3 &u, const Vec3 &v, const Vec3 &w, const Vec3 &h) {
        const Vec3 axes[3] = {u * h.x(), v * h.y(), w * h.z()};
        for (int k = 0; k < 3; ++k) {
            const Vec3 &a = axes[k], &b = axes[(k + 1) % 3], &c = axes[(k + 2) % 3];
            for (int side = -1; side <= 1; side += 2) {
                const Vec3 mid = centre + side * a;
                Face({mid - b - c, mid + b - c, mid + b + c, mid - b + c}, side * a);
            }
        }
    }

    void Beam(const Vec3 &from, const Vec3 &to, double thickness) {
        const Vec3 along = to - from;
        if (along.norm() == 0.0) return;
        const Vec3 w = along.normalized();
        const Vec3 u = Perpendicular(w), v = w.cross(u);
        Box((from + to) / 2.0, u, v, w, Vec3(thickness / 2, thickness / 2, along.norm() / 2));
    }

    // A round frustum along `axis` from `base` (radius r0) to base + axis*length (radius r1).
    void Frustum(const Vec3 &base, const Vec3 &axis, double r0, double r1, double length) {
        const Vec3 w = axis.normalized(), u = Perpendicular(w), v = w.cross(u);
        const Vec3 top = base + w * length;
        std::vector<Vec3> bottomRing, topRing;
        for (int k = 0; k < kRoundSteps; ++k) {
            const double a = 2.0 * kPi * k / kRoundSteps;
            const Vec3 radial = std::cos(a) * u + std::sin(a) * v;
            bottomRing.push_back(base + r0 * radial);
            topRing.push_back(top + r1 * radial);
        }
        for (int k = 0; k < kRoundSteps; ++k) {
            const int n = (k + 1) % kRoundSteps;
            const double a = 2.0 * kPi * (k + 0.5) / kRoundSteps;
            const Vec3 radial = std::cos(a) * u + std::sin(a) * v;
            Face({bottomRing[k], bottomRing[n], topRing[n], topRing[k]}, radial);
        }
        Face(bottomRing, -w);
        Face(topRing, w);
    }

    // A flat sector of a disc: apex at `apex`, from direction u1 to u2 (less than half a turn apart).
    void Sector(const Vec3 &apex, const Vec3 &u1, const Vec3 &u2, double radius, double thickness) {
        const Vec3 n = u1.cross(u2).normalized();
        const double span = std::acos(std::clamp(u1.dot(u2), -1.0, 1.0));
        const Vec3 inPlane = n.cross(u1);  // u1 turned towards u2 within the sector's plane
        std::vector<Vec3> top{apex + n * thickness / 2}, bottom{apex - n * thickness / 2};
        for (int k = 0; k <= kFanArcSteps; ++k) {
            const double a = span * k / kFanArcSteps;
            const Vec3 rim = apex + radius * (std::cos(a) * u1 + std::sin(a) * inPlane);
            top.push_back(rim + n * thickness / 2);
            bottom.push_back(rim - n * thickness / 2);
        }
        Face(top, n);
        Face(bottom, -n);
    }

    static Vec3 Perpendicular(const Vec3 &w) {
        const Vec3 trial = std::abs(w.y()) < 0.9 ? kUp : Vec3::UnitX();
        return w.cross(trial).normalized();
    }

private:
    ModelPart &p_;
};

// ---- what the components say about the groups
struct ComponentView {
    const AnimationComponent *c = nullptr;
    int type = 0;  // MGROUP_TRANSFORM::ROTATE, TRANSLATE, SCALE
    Vec3 ref = Vec3::Zero(), axis = Vec3::Zero(), shift = Vec3::Zero(), scale = Vec3::Ones();
    double angle = 0.0;
    int parent = -1;
    std::vector<int> children;
    bool HasRef() const { return type == MGROUP_TRANSFORM::ROTATE || type == MGROUP_TRANSFORM::SCALE; }
};

std::vector<ComponentView> ViewComponents(const Vessel &v) {
    std::vector<ComponentView> out(v.actuators.components.size());
    for (std::size_t i = 0; i < v.actuators.components.size(); ++i) {
        ComponentView &cv = out[i];
        cv.c = v.actuators.components[i].get();
        const MGROUP_TRANSFORM *t = cv.c->transform;
        if (!t) continue;
        cv.type = t->Type();
        if (cv.type == MGROUP_TRANSFORM::ROTATE) {
            const auto &r = static_cast<const MGROUP_ROTATE &>(*t);
            cv.ref = ToVec(r.ref);
            cv.axis = ToVec(r.axis).norm() > 0.0 ? ToVec(r.axis).normalized() : kUp;
            cv.angle = r.angle;
        } else if (cv.type == MGROUP_TRANSFORM::TRANSLATE) {
            cv.shift = ToVec(static_cast<const MGROUP_TRANSLATE &>(*t).shift);
        } else if (cv.type == MGROUP_TRANSFORM::SCALE) {
            const auto &s = static_cast<const MGROUP_SCALE &>(*t);
            cv.ref = ToVec(s.ref);
            cv.scale = ToVec(s.scale);
        }
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        for (std::size_t j = 0; j < out.size(); ++j)
            if (out[i].c->parent == out[j].c) out[i].parent = static_cast<int>(j);
        if (out[i].parent >= 0) out[static_cast<std::size_t>(out[i].parent)].children.push_back(static_cast<int>(i));
    }
    return out;
}

bool Lists(const ComponentView &cv, UINT mesh, UINT group) {
    const MGROUP_TRANSFORM *t = cv.c->transform;
    if (!t || !t->grp || t->mesh != mesh) return false;
    for (UINT i = 0; i < t->ngrp; ++i)
        if (t->grp[i] == group) return true;
    return false;
}

int RankIn(const ComponentView &cv, UINT group) {
    const MGROUP_TRANSFORM *t = cv.c->transform;
    for (UINT i = 0; i < t->ngrp; ++i)
        if (t->grp[i] == group) return static_cast<int>(i);
    return 0;
}

class PartBuilder {
public:
    explicit PartBuilder(const Vessel &v) : vessel_(v), views_(ViewComponents(v)) {}

    ModelPart Build(UINT mesh, UINT group) {
        ModelPart part;
        part.mesh = mesh;
        part.group = group;
        part.animated = true;
        const int pc = PlacingComponent(mesh, group);
        Shapes shapes(part);
        if (pc < 0) return part;
        const ComponentView &cv = views_[static_cast<std::size_t>(pc)];
        const Shape main = MainShape(pc);
        const int rank = RankIn(cv, group);
        if (rank == 0) {
            Draw(main, shapes, part);
        } else {
            // The component's further groups: fittings at the end of its main part.
            const Vec3 along = cv.type == MGROUP_TRANSFORM::ROTATE ? cv.axis : Shapes::Perpendicular(main.direction);
            const Vec3 at = main.tip + along * (kFittingSpacing * rank);
            shapes.Box(at, Vec3::UnitX(), kUp, Vec3::UnitZ(), Vec3::Constant(kFittingHalfSize));
            part.label = main.label + " fitting";
            part.colour = kFittingColour;
        }
        return part;
    }

private:
    enum class Kind { Fan, Boom, Link, Forearm, Pad, Head, Plate, Strut, LinkEnd, Column, Block };
    struct Shape {
        Kind kind = Kind::Block;
        std::string label;
        Vec3 from = Vec3::Zero(), to = Vec3::Zero();  // beams
        Vec3 u1 = Vec3::Zero(), u2 = Vec3::Zero();    // fans
        Vec3 direction = kUp;
        Vec3 hingeAxis = kUp;  // plates
        double size = 0.0;
        Vec3 tip = Vec3::Zero();
    };

    // The component that decides where a group's part sits: the first
    // rotation that moves it (it has a hinge), else the first scaling, else
    // the first translation.
    int PlacingComponent(UINT mesh, UINT group) const {
        for (int type : {MGROUP_TRANSFORM::ROTATE, MGROUP_TRANSFORM::SCALE, MGROUP_TRANSFORM::TRANSLATE})
            for (std::size_t i = 0; i < views_.size(); ++i)
                if (views_[i].type == type && Lists(views_[i], mesh, group)) return static_cast<int>(i);
        return -1;
    }

    const ComponentView &At(int i) const { return views_[static_cast<std::size_t>(i)]; }

    bool SameRef(const ComponentView &a, const ComponentView &b) const {
        return a.HasRef() && b.HasRef() && (a.ref - b.ref).norm() < kSameRefDistance;
    }

    // A neighbour in the chain that folds about another line through the same point.
    int FanPartner(int i) const {
        const ComponentView &cv = At(i);
        auto folds = [&](int j) {
            const ComponentView &o = At(j);
            return o.type == MGROUP_TRANSFORM::ROTATE && SameRef(cv, o) && cv.axis.cross(o.axis).norm() > kParallelSine;
        };
        if (cv.parent >= 0 && folds(cv.parent)) return cv.parent;
        for (int child : cv.children)
            if (folds(child)) return child;
        return -1;
    }

    // The nearest hinge point further down the chain that is not this one.
    int BoomTarget(int i) const {
        std::vector<int> queue = At(i).children;
        for (std::size_t k = 0; k < queue.size(); ++k) {
            const ComponentView &o = At(queue[k]);
            if (o.HasRef() && (o.ref - At(i).ref).norm() > kBoomMinLength) return queue[k];
            queue.insert(queue.end(), o.children.begin(), o.children.end());
        }
        return -1;
    }

    int TranslatingChild(int i) const {
        for (int child : At(i).children)
            if (At(child).type == MGROUP_TRANSFORM::TRANSLATE && At(child).shift.norm() > 0.0) return child;
        return -1;
    }

    double NearestTouchdownDistance(const Vec3 &p) const {
        double best = std::numeric_limits<double>::infinity();
        for (const Vec3 &t : vessel_.def.touchdown) best = std::min(best, (t - p).norm());
        return best;
    }

    // Of the four directions square to the axis, the one that the part's own
    // motion carries furthest out from the vessel's centre: stowed parts lie
    // close in, deployed parts stand out.
    Vec3 DeployingDirection(int i, double length) const {
        const ComponentView &cv = At(i);
        const Vec3 h1 = Shapes::Perpendicular(cv.axis), h2 = cv.axis.cross(h1);
        const Transform full = ComponentMotion(*cv.c->transform, 1.0, 0.0);
        Vec3 best = h1;
        double bestScore = -std::numeric_limits<double>::infinity();
        for (const Vec3 &d : {h1, Vec3(-h1), h2, Vec3(-h2)}) {
            const Vec3 tip = cv.ref + d * length;
            const double score = (full * tip).norm() - tip.norm();
            if (score > bestScore + 1e-9) {
                bestScore = score;
                best = d;
            }
        }
        return best;
    }

    Shape MainShape(int i) const {
        const ComponentView &cv = At(i);
        Shape s;
        if (cv.type == MGROUP_TRANSFORM::ROTATE) return RotatingShape(i);
        if (cv.type == MGROUP_TRANSFORM::SCALE) {
            // A mast stretched about its base: as tall as the lift that rides
            // on its top in the same motion, so the top stays under what it carries.
            int along = 0;
            (cv.scale - Vec3::Ones()).cwiseAbs().maxCoeff(&along);
            const double factor = cv.scale[along];
            double height = kDefaultColumnHeight;
            for (const ComponentView &o : views_)
                if (o.type == MGROUP_TRANSFORM::TRANSLATE && o.c->animation == cv.c->animation &&
                    o.c->state0 == cv.c->state0 && o.c->state1 == cv.c->state1 && factor != 1.0 &&
                    o.shift[along] / (factor - 1.0) > 0.0)
                    height = o.shift[along] / (factor - 1.0);
            s.kind = Kind::Column;
            s.label = "mast";
            s.direction = Vec3::Unit(along);
            s.from = cv.ref;
            s.to = s.tip = cv.ref + s.direction * height;
            return s;
        }
        if (cv.type == MGROUP_TRANSFORM::TRANSLATE) {
            const Vec3 dir = cv.shift.norm() > 0.0 ? Vec3(cv.shift.normalized()) : kUp;
            s.direction = dir;
            for (int child : cv.children) {
                if (!At(child).HasRef()) continue;
                // A strut sliding out towards the foot it carries.
                s.kind = Kind::Strut;
                s.label = "strut";
                s.to = s.tip = At(child).ref;
                s.from = s.to - dir * (kStrutShareOfReach * At(child).ref.norm());
                return s;
            }
            if (cv.parent >= 0 && TranslatingChild(cv.parent) >= 0 && At(cv.parent).type == MGROUP_TRANSFORM::ROTATE) {
                // The sliding end of a link, continuing it.
                const Shape link = RotatingShape(cv.parent);
                s.kind = Kind::LinkEnd;
                s.label = "link end";
                s.from = link.to;
                s.to = s.tip = link.to + dir * link.size;
                return s;
            }
            s.kind = Kind::Block;
            s.label = "slider";
            s.tip = s.from = cv.shift;
            return s;
        }
        return s;
    }

    Shape RotatingShape(int i) const {
        const ComponentView &cv = At(i);
        Shape s;
        if (const int partner = FanPartner(i); partner >= 0) {
            // A fan segment between its own fold line and its neighbour's, on
            // the side away from the vessel.
            Vec3 u1 = cv.axis, u2 = At(partner).axis;
            if (u1.dot(u2) < 0.0) u2 = -u2;
            if ((u1 + u2).dot(cv.ref) < 0.0) {
                u1 = -u1;
                u2 = -u2;
            }
            double radius = kDefaultFanRadius;
            for (int k = cv.parent; k >= 0; k = At(k).parent)
                if (At(k).HasRef() && !SameRef(At(k), cv)) {
                    radius = kFanRadiusShare * (At(k).ref - cv.ref).norm();
                    break;
                }
            s.kind = Kind::Fan;
            s.label = "fan segment";
            s.u1 = u1;
            s.u2 = u2;
            s.size = radius;
            s.direction = (u1 + u2).normalized();
            s.tip = cv.ref + s.direction * radius;
            return s;
        }
        if (const int target = BoomTarget(i); target >= 0) {
            s.kind = Kind::Boom;
            s.label = "boom";
            s.from = cv.ref;
            s.to = s.tip = At(target).ref;
            s.direction = (s.to - s.from).normalized();
            return s;
        }
        if (const int child = TranslatingChild(i); child >= 0) {
            // A leg link from its hinge towards the ground, its end sliding on.
            s.kind = Kind::Link;
            s.label = "link";
            s.direction = At(child).shift.normalized();
            s.size = kLinkShareOfFootDistance * NearestTouchdownDistance(cv.ref);
            s.from = cv.ref;
            s.to = s.tip = cv.ref + s.direction * s.size;
            return s;
        }
        for (int k = cv.parent; k >= 0; k = At(k).parent) {
            if (At(k).type != MGROUP_TRANSFORM::ROTATE || BoomTarget(k) < 0) continue;
            // An arm segment folded back along the boom that carries it.
            const Vec3 boomFrom = At(k).ref, boomTo = At(BoomTarget(k)).ref;
            s.kind = Kind::Forearm;
            s.label = "arm segment";
            s.direction = (boomFrom - boomTo).normalized();
            s.from = cv.ref;
            s.to = s.tip = cv.ref + s.direction * (kForearmShare * (boomTo - boomFrom).norm());
            return s;
        }
        if (cv.parent >= 0 && At(cv.parent).type == MGROUP_TRANSFORM::TRANSLATE) {
            // A foot on a strut: its pad hangs below the hinge, standing on
            // the touchdown points' height once the strut is out.
            double ground = 0.0;
            for (const Vec3 &t : vessel_.def.touchdown) ground = std::min(ground, t.y());
            const double drop = cv.ref.y() + At(cv.parent).shift.y() - ground - kPadHalfHeight;
            s.kind = Kind::Pad;
            s.label = "foot";
            s.from = cv.ref;
            s.to = cv.ref - kUp * std::max(drop, kPadHalfHeight);  // the pad's centre
            const Vec3 out(s.to.x(), 0.0, s.to.z());
            // Fittings sit on the rim, on the outer side.
            s.tip = s.to + (out.norm() > 0.0 ? Vec3(out.normalized()) : Vec3::UnitZ()) * kPadRadius;
            return s;
        }
        if (std::abs(cv.angle) >= 2.0 * kPi - 1e-3) {
            // Something that turns all the way round: off its axis, so the turn shows.
            s.kind = Kind::Head;
            s.label = "turning head";
            s.direction = DeployingDirectionAwayFromAxis(cv);
            s.from = cv.ref;
            s.to = s.tip = cv.ref + s.direction * kHeadLength;
            return s;
        }
        s.kind = Kind::Plate;
        s.label = "hinged plate";
        s.direction = DeployingDirection(i, kPlateLength);
        s.hingeAxis = cv.axis;
        s.from = cv.ref;
        s.to = s.tip = cv.ref + s.direction * kPlateLength;
        return s;
    }

    static Vec3 DeployingDirectionAwayFromAxis(const ComponentView &cv) {
        Vec3 out = cv.ref - cv.ref.dot(cv.axis) * cv.axis;
        if (out.norm() < kSameRefDistance) return Shapes::Perpendicular(cv.axis);
        return out.normalized();
    }

    void Draw(const Shape &s, Shapes &shapes, ModelPart &part) const {
        part.label = s.label;
        switch (s.kind) {
        case Kind::Fan:
            part.colour = kFanColour;
            shapes.Sector(s.tip - s.direction * s.size, s.u1, s.u2, s.size, kSheetThickness);
            break;
        case Kind::Boom:
        case Kind::Forearm:
            part.colour = kBeamColour;
            shapes.Beam(s.from, s.to, kBeamThickness);
            break;
        case Kind::Link:
        case Kind::LinkEnd:
        case Kind::Strut:
            part.colour = kBeamColour;
            shapes.Beam(s.from, s.to, s.kind == Kind::Strut ? kBeamThickness : kLinkThickness);
            break;
        case Kind::Column:
            part.colour = kBeamColour;
            shapes.Frustum(s.from, s.direction, kColumnRadius, kColumnRadius, (s.to - s.from).norm());
            break;
        case Kind::Pad:
            part.colour = kPadColour;
            shapes.Frustum(s.to - kUp * kPadHalfHeight, kUp, kPadRadius, kPadRadius, 2 * kPadHalfHeight);
            shapes.Beam(s.from, s.to, kLinkThickness);
            break;
        case Kind::Head: {
            part.colour = kHeadColour;
            const Vec3 w = s.direction, u = Shapes::Perpendicular(w), v = w.cross(u);
            shapes.Box((s.from + s.to) / 2.0, u, v, w, Vec3(kHeadHalfSize, kHeadHalfSize, kHeadLength / 2));
            break;
        }
        case Kind::Plate: {
            part.colour = kPlateColour;
            const Vec3 &a = s.hingeAxis;
            shapes.Box((s.from + s.to) / 2.0, a, s.direction, a.cross(s.direction),
                       Vec3(kPlateWidth / 2, kPlateLength / 2, kPlateThickness / 2));
            break;
        }
        case Kind::Block:
            part.colour = kFittingColour;
            shapes.Box(s.tip, Vec3::UnitX(), kUp, Vec3::UnitZ(), Vec3::Constant(kFittingHalfSize));
            break;
        }
    }

    const Vessel &vessel_;
    std::vector<ComponentView> views_;
};

// ---- the body: what no animation moves
bool IsMainEngine(const Vessel &v, const Thruster *t) {
    const ThrusterGroup *main = v.Group(THGROUP_MAIN);
    return main && std::find(main->members.begin(), main->members.end(), t) != main->members.end();
}

double DeckHeight(const Vessel &v) {
    double deck = std::numeric_limits<double>::infinity();
    for (const auto &c : v.actuators.components) {
        if (!c->transform || c->transform->Type() != MGROUP_TRANSFORM::ROTATE) continue;
        const double y = static_cast<const MGROUP_ROTATE &>(*c->transform).ref.y;
        if (y > kDeckMinHeight) deck = std::min(deck, y);
    }
    return std::isfinite(deck) ? deck : v.def.size / 4;
}

ModelPart BodyPart(const Vessel &v, UINT group) {
    ModelPart part;
    part.group = group;
    part.label = "body";
    part.colour = kBodyColour;
    double radius = 0.0, bottom = 0.0;
    for (const auto &t : v.actuators.thrusters) {
        if (!IsMainEngine(v, t.get())) continue;
        radius = std::max(radius, std::hypot(t->pos.x(), t->pos.z()));
        bottom = std::min(bottom, t->pos.y() + kBellLength);
    }
    radius = radius > 0.0 ? radius + kBodyClearance : v.def.size / 4;
    const double top = DeckHeight(v);
    if (bottom >= top) bottom = top - v.def.size / 4;
    // A hexagonal prism with a flat side facing forward.
    constexpr int kSides = 6;
    std::vector<Vec3> lower, upper;
    for (int k = 0; k < kSides; ++k) {
        const double a = 2.0 * kPi * (k + 0.5) / kSides;
        lower.emplace_back(radius * std::sin(a), bottom, radius * std::cos(a));
        upper.emplace_back(radius * std::sin(a), top, radius * std::cos(a));
    }
    Shapes shapes(part);
    for (int k = 0; k < kSides; ++k) {
        const int n = (k + 1) % kSides;
        const double a = 2.0 * kPi * (k + 1) / kSides;
        shapes.Face({lower[k], lower[n], upper[n], upper[k]}, Vec3(std::sin(a), 0.0, std::cos(a)));
    }
    shapes.Face(lower, -kUp);
    shapes.Face(upper, kUp);
    return part;
}

ModelPart EnginePart(const Vessel &v, UINT group) {
    ModelPart part;
    part.group = group;
    part.label = "engine bells";
    part.colour = kEngineColour;
    Shapes shapes(part);
    for (const auto &t : v.actuators.thrusters) {
        if (!IsMainEngine(v, t.get())) continue;
        const Vec3 thrust = t->dir.norm() > 0.0 ? Vec3(t->dir.normalized()) : kUp;
        // The bell opens against the thrust, its exit at the thruster's position.
        shapes.Frustum(t->pos + thrust * kBellLength, -thrust, kBellThroat, kBellExit, kBellLength);
    }
    return part;
}

ModelPart ThrusterPart(const Vessel &v, UINT group) {
    ModelPart part;
    part.group = group;
    part.label = "thrusters and lidar";
    part.colour = kFittingColour;
    Shapes shapes(part);
    for (const auto &t : v.actuators.thrusters)
        if (!IsMainEngine(v, t.get()))
            shapes.Box(t->pos, Vec3::UnitX(), kUp, Vec3::UnitZ(), Vec3::Constant(kFittingHalfSize));
    return part;
}

}  // namespace

const ModelPart *StandInModel::Find(UINT mesh, UINT group) const {
    for (const ModelPart &p : parts)
        if (p.mesh == mesh && p.group == group) return &p;
    return nullptr;
}

Vec3 StandInModel::Centre() const {
    Vec3 lo = Vec3::Constant(std::numeric_limits<double>::infinity()), hi = -lo;
    for (const ModelPart &p : parts)
        for (const Vec3 &x : p.vertices) {
            lo = lo.cwiseMin(x);
            hi = hi.cwiseMax(x);
        }
    return lo.allFinite() ? Vec3((lo + hi) / 2.0) : Vec3::Zero();
}

double StandInModel::Radius() const {
    const Vec3 c = Centre();
    double r = 0.0;
    for (const ModelPart &p : parts)
        for (const Vec3 &x : p.vertices) r = std::max(r, (x - c).norm());
    return r;
}

std::vector<std::pair<UINT, UINT>> AnimatedGroups(const Vessel &v) {
    std::vector<std::pair<UINT, UINT>> out;
    for (const auto &c : v.actuators.components) {
        if (!c->transform || !c->transform->grp) continue;
        for (UINT i = 0; i < c->transform->ngrp; ++i) {
            const std::pair<UINT, UINT> g{c->transform->mesh, c->transform->grp[i]};
            if (std::find(out.begin(), out.end(), g) == out.end()) out.push_back(g);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

StandInModel BuildStandInModel(const Vessel &v) {
    StandInModel model;
    PartBuilder builder(v);
    const auto animated = AnimatedGroups(v);
    for (const auto &[mesh, group] : animated) model.parts.push_back(builder.Build(mesh, group));
    // The body takes the first group numbers of mesh 0 that no animation uses.
    UINT next = 0;
    auto freeGroup = [&]() {
        while (std::find(animated.begin(), animated.end(), std::pair<UINT, UINT>{0, next}) != animated.end()) ++next;
        return next++;
    };
    model.parts.push_back(BodyPart(v, freeGroup()));
    model.parts.push_back(EnginePart(v, freeGroup()));
    model.parts.push_back(ThrusterPart(v, freeGroup()));
    std::sort(model.parts.begin(), model.parts.end(), [](const ModelPart &a, const ModelPart &b) {
        return a.mesh != b.mesh ? a.mesh < b.mesh : a.group < b.group;
    });
    return model;
}

std::string ToMeshFile(const StandInModel &model) {
    UINT groups = 0;
    for (const ModelPart &p : model.parts)
        if (p.mesh == 0) groups = std::max(groups, p.group + 1);
    std::vector<Colour> materials;
    auto materialOf = [&](const Colour &c) {
        auto it = std::find(materials.begin(), materials.end(), c);
        if (it == materials.end()) {
            materials.push_back(c);
            return materials.size();
        }
        return static_cast<std::size_t>(it - materials.begin()) + 1;
    };
    std::string out = "MSHX1\nGROUPS " + std::to_string(groups) + "\n";
    char line[200];
    for (UINT g = 0; g < groups; ++g) {
        const ModelPart *p = model.Find(0, g);
        if (!p || p->triangles.empty()) {
            // A group number the model has no part for: one tiny triangle
            // inside the body keeps the numbering.
            std::snprintf(line, sizeof line, "LABEL unused%u\nMATERIAL 0\nTEXTURE 0\nGEOM 3 1\n", g);
            out += line;
            std::snprintf(line, sizeof line, "0 0 0 0 1 0\n%g 0 0 0 1 0\n0 0 %g 0 1 0\n0 2 1\n",
                          kHiddenTriangleSize, kHiddenTriangleSize);
            out += line;
            continue;
        }
        std::string label = p->label;
        std::replace(label.begin(), label.end(), ' ', '_');
        std::snprintf(line, sizeof line, "LABEL %s%u\nMATERIAL %zu\nTEXTURE 0\nGEOM %zu %zu\n", label.c_str(), g,
                      materialOf(p->colour), p->vertices.size(), p->triangles.size());
        out += line;
        for (std::size_t k = 0; k < p->vertices.size(); ++k) {
            const Vec3 &x = p->vertices[k], &n = p->normals[k];
            std::snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f %.4f %.4f\n", x.x(), x.y(), x.z(), n.x(), n.y(),
                          n.z());
            out += line;
        }
        for (const auto &t : p->triangles) {
            std::snprintf(line, sizeof line, "%u %u %u\n", t[0], t[1], t[2]);
            out += line;
        }
    }
    out += "MATERIALS " + std::to_string(materials.size()) + "\n";
    for (std::size_t m = 0; m < materials.size(); ++m) out += "standin" + std::to_string(m + 1) + "\n";
    for (std::size_t m = 0; m < materials.size(); ++m) {
        const Colour &c = materials[m];
        std::snprintf(line, sizeof line,
                      "MATERIAL standin%zu\n%.3f %.3f %.3f 1\n%.3f %.3f %.3f 1\n0.2 0.2 0.2 1 10\n0 0 0 1\n", m + 1,
                      c[0], c[1], c[2], c[0], c[1], c[2]);
        out += line;
    }
    out += "TEXTURES 0\n";
    return out;
}

}  // namespace vtal::sim
