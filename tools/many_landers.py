#!/usr/bin/env python3
"""A scenario of many landers descending side by side, for large runs.

N landers in a square grid SPACING metres apart over Mare Cognitum, each as
the default descent starts (2000 m up, sinking 20 m/s, nose east, no motion
over the ground, automatic descent on); the first has the focus.

  tools/many_landers.py --count 5000 > many.scn
  build/release/bin/vtal-sim many.scn --until 5 --view many.html
"""
import argparse
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from surface_start import BODIES, start_lines  # noqa: E402

MJD = 51983.5
CENTRE_LNG, CENTRE_LAT = -23.4, 3.0  # deg


def scenario(count, spacing, alt, sink):
    radius = BODIES["Moon"][0]
    side = math.ceil(math.sqrt(count))
    step_lat = math.degrees(spacing / radius)
    step_lng = step_lat / math.cos(math.radians(CENTRE_LAT))
    out = [
        "BEGIN_DESC",
        f"{count} landers {spacing:g} m apart in a grid, {alt:g} m over Mare Cognitum, sinking at {sink:g} m/s,",
        "automatic descent on (written by tools/many_landers.py).",
        "END_DESC",
        "",
        "BEGIN_ENVIRONMENT",
        "  System Sol",
        f"  Date MJD {MJD}",
        "END_ENVIRONMENT",
        "",
        "BEGIN_FOCUS",
        "  Ship Lander1",
        "END_FOCUS",
        "",
        "BEGIN_SHIPS",
    ]
    for k in range(count):
        row, col = divmod(k, side)
        lng = CENTRE_LNG + (col - (side - 1) / 2) * step_lng
        lat = CENTRE_LAT + (row - (side - 1) / 2) * step_lat
        out.append(f"Lander{k + 1}:vtal")
        out.extend(start_lines("Moon", lng, lat, alt, sink, 0.0, 0.0, 90.0, MJD))
        out.extend(["  PRPLEVEL 0:1 1:1", "  MANUAL 0", "END"])
    out.append("END_SHIPS")
    return "\n".join(out) + "\n"


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--count", type=int, required=True, help="how many landers (1 or more)")
    p.add_argument("--spacing", type=float, default=50.0, help="distance between neighbours, m")
    p.add_argument("--alt", type=float, default=2000.0, help="altitude, m")
    p.add_argument("--sink", type=float, default=20.0, help="sink rate, m/s")
    a = p.parse_args(argv)
    if a.count < 1:
        p.error("--count must be 1 or more")
    sys.stdout.write(scenario(a.count, a.spacing, a.alt, a.sink))


if __name__ == "__main__":
    main(sys.argv[1:])
