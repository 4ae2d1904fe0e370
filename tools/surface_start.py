#!/usr/bin/env python3
"""Standard lines of a flying vessel given relative to the turning ground.

The host's RPOS, RVEL and AROT are in the global, non-rotating frame, and the
body turns under them. A start such as "2000 m over a point, sinking 20 m/s,
no motion over the ground, nose east" therefore has a position turned by the
body's rotation angle at the scenario's date and a velocity that includes
the surface's own motion. This prints those lines, with every digit.

  tools/surface_start.py --lng -23.4 --lat 3 --alt 2000 --sink 20 --heading 90
"""
import argparse
import math
import sys

BODIES = {  # mean radius (m), sidereal rotation period (s)
    "Moon": (1738000.0, 2360588.15),
    "Mars": (3390000.0, 88642.66435),
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


def start_lines(body, lng, lat, alt, sink, ground_east, ground_north, heading, mjd):
    radius, period = BODIES[body]
    turns = (mjd - ROTATION_EPOCH_MJD) * 86400.0 / period
    phi = 2.0 * math.pi * (turns - math.floor(turns))
    c, s = math.cos(phi), math.sin(phi)
    lng, lat, heading = (math.radians(x) for x in (lng, lat, heading))
    local = scale((math.cos(lat) * math.cos(lng), math.sin(lat), math.cos(lat) * math.sin(lng)), radius + alt)
    pos = (c * local[0] - s * local[2], local[1], s * local[0] + c * local[2])
    up = unit(pos)
    east = unit((-up[2], 0.0, up[0]))
    north = cross(east, up)
    forward = add(scale(north, math.cos(heading)), scale(east, math.sin(heading)))
    x = cross(up, forward)
    # Vessel -> global rotation with columns x, up, forward; AROT as the host reads it.
    r = [[x[0], up[0], forward[0]], [x[1], up[1], forward[1]], [x[2], up[2], forward[2]]]
    arot = (math.atan2(r[1][2], r[2][2]), -math.asin(max(-1.0, min(1.0, r[0][2]))), math.atan2(r[0][1], r[0][0]))
    spin = (0.0, 2.0 * math.pi / period, 0.0)
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
