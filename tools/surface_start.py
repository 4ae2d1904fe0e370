#!/usr/bin/env python3
"""Standard lines of a flying vessel given relative to the turning ground.

The host's RPOS, RVEL and AROT are in the global, non-rotating (ecliptic)
frame, and the body turns under them about its own inclined, precessing
axis. A start such as "2000 m over a point, sinking 20 m/s, no motion over
the ground, nose east" therefore has a position turned by the body's
orientation at the scenario's date, as the host computes it, and a velocity
that includes the surface's own motion. This prints those lines, with every
digit.

  tools/surface_start.py --lng -23.4 --lat 3 --alt 2000 --sink 20 --heading 90
"""
import argparse
import math
import sys

# Per body: mean radius (m) and the host's rotation elements: SidRotPeriod
# (s), SidRotOffset, Obliquity, LAN (rad), LAN_MJD, PrecessionPeriod (days),
# PrecessionObliquity, PrecessionLAN (rad).
BODIES = {
    "Moon": (1738000.0, dict(period=2360588.15, offset=4.769465382, obliquity=0.02692416821,
                             node=1.71817749, node_mjd=51544.5, precession_days=-6793.219721,
                             precession_obliquity=7.259562816e-5, precession_node=0.4643456618)),
    "Mars": (3390000.0, dict(period=88642.66435, offset=5.469523488, obliquity=0.4397415938,
                             node=0.6210531483, node_mjd=51544.5, precession_days=-63346652.48,
                             precession_obliquity=0.03224369545, precession_node=4.005081124)),
}
ROTATION_EPOCH_MJD = 51544.5


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def scale(a, k):
    return tuple(k * x for x in a)


def add(*vs):
    return tuple(sum(c) for c in zip(*vs))


def unit(a):
    n = math.sqrt(sum(x * x for x in a))
    return scale(a, 1.0 / n)


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def apply(m, v):
    return tuple(sum(m[i][k] * v[k] for k in range(3)) for i in range(3))


def rot_x(a):
    c, s = math.cos(a), math.sin(a)
    return [[1.0, 0.0, 0.0], [0.0, c, -s], [0.0, s, c]]


def rot_y(a):
    c, s = math.cos(a), math.sin(a)
    return [[c, 0.0, -s], [0.0, 1.0, 0.0], [s, 0.0, c]]


def node_tilt(lan, obliquity):
    cl, sl, ce, se = math.cos(lan), math.sin(lan), math.cos(obliquity), math.sin(obliquity)
    return [[cl, -sl * se, -sl * ce], [0.0, ce, -se], [sl, cl * se, cl * ce]]


def body_to_global(body, mjd):
    """The host's body-fixed -> global rotation of the body at a date."""
    e = BODIES[body][1]
    reference = (matmul(rot_y(e["precession_node"]), rot_x(e["precession_obliquity"]))
                 if e["precession_obliquity"] != 0.0 else rot_y(0.0))
    node = e["node"]
    if e["precession_days"] != 0.0:
        node += 2.0 * math.pi / e["precession_days"] * (mjd - e["node_mjd"])
    a = matmul(reference, node_tilt(node, e["obliquity"]))
    axis = (a[0][1], a[1][1], a[2][1])
    obliquity = math.acos(max(-1.0, min(1.0, axis[1])))
    lan = math.atan2(-axis[0], axis[2])
    cl, sl = math.cos(lan), math.sin(lan)
    offset = math.atan2(-(cl * a[0][2] + sl * a[2][2]), cl * a[0][0] + sl * a[2][0])
    ce = math.cos(e["obliquity"])
    spun = 2.0 * math.pi * (mjd - ROTATION_EPOCH_MJD) * 86400.0 / e["period"]
    phi = e["offset"] + spun + e["node"] * ce - node * ce + offset
    phi = 2.0 * math.pi * (phi / (2.0 * math.pi) - math.floor(phi / (2.0 * math.pi)))
    return matmul(node_tilt(lan, obliquity), rot_y(phi))


def start_lines(body, lng, lat, alt, sink, ground_east, ground_north, heading, mjd):
    radius, elements = BODIES[body]
    r_p = body_to_global(body, mjd)
    axis = (r_p[0][1], r_p[1][1], r_p[2][1])
    lng, lat, heading = (math.radians(x) for x in (lng, lat, heading))
    local = scale((math.cos(lat) * math.cos(lng), math.sin(lat), math.cos(lat) * math.sin(lng)), radius + alt)
    pos = apply(r_p, local)
    up = unit(pos)
    east = unit(cross(up, axis))
    north = cross(east, up)
    forward = add(scale(north, math.cos(heading)), scale(east, math.sin(heading)))
    x = cross(up, forward)
    # Vessel -> global rotation with columns x, up, forward; AROT as the host reads it.
    r = [[x[0], up[0], forward[0]], [x[1], up[1], forward[1]], [x[2], up[2], forward[2]]]
    arot = (math.atan2(r[1][2], r[2][2]), -math.asin(max(-1.0, min(1.0, r[0][2]))), math.atan2(r[0][1], r[0][0]))
    spin = scale(axis, 2.0 * math.pi / elements["period"])
    vel = add(scale(up, -sink), scale(east, ground_east), scale(north, ground_north), cross(pos, spin))
    fmt = lambda v: " ".join(repr(float(a)) for a in v)
    return [
        f"  STATUS Orbiting {body}",
        f"  RPOS {fmt(pos)}",
        f"  RVEL {fmt(vel)}",
        f"  AROT {fmt(tuple(math.degrees(a) for a in arot))}",
    ]


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--body", default="Moon", choices=sorted(BODIES))
    p.add_argument("--lng", type=float, required=True, help="longitude, deg east")
    p.add_argument("--lat", type=float, required=True, help="latitude, deg north")
    p.add_argument("--alt", type=float, required=True, help="altitude over the mean radius, m")
    p.add_argument("--sink", type=float, default=0.0, help="sink rate over the ground, m/s")
    p.add_argument("--east", type=float, default=0.0, help="ground speed towards east, m/s")
    p.add_argument("--north", type=float, default=0.0, help="ground speed towards north, m/s")
    p.add_argument("--heading", type=float, default=0.0, help="heading of the nose, deg from north")
    p.add_argument("--mjd", type=float, default=51983.5, help="the scenario's date")
    a = p.parse_args(argv)
    print("\n".join(start_lines(a.body, a.lng, a.lat, a.alt, a.sink, a.east, a.north, a.heading, a.mjd)))


if __name__ == "__main__":
    main(sys.argv[1:])
