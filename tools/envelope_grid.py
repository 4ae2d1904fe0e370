#!/usr/bin/env python3
"""Fly the automatic descent's envelope with vtal-sim and print the outcomes.

Every start is the shipped descent scenario with its start replaced: the
lander at an altitude over Mare Cognitum, sinking at a rate, nose east or
nose west, no motion over the ground (the lines come from surface_start.py
at the template's date). Each run flies until the lander has rested, at most
600 s, and its JSON report gives the first contact and the verdict. v830 is
the sink rate the lander would have at 830 m in free fall,
sqrt(v0^2 + 2 g (h0 - 830)), which mostly decides the outcome.

A second table flies the template's own start with horizontal ground speed
towards east, west, north and south.

  tools/envelope_grid.py --sim build/release/bin/vtal-sim --jobs 2
"""
import argparse
import concurrent.futures
import json
import math
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import surface_start  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ALTITUDES = (1000, 1200, 1500, 2000, 2500, 3000, 4000)  # m
SINK_RATES = (0, 10, 20, 40, 60, 80, 100)  # m/s
HEADINGS = (("east", 90.0), ("west", 270.0))
GROUND_SPEEDS = (10, 20, 30)  # m/s
DIRECTIONS = {"east": (1.0, 0.0), "west": (-1.0, 0.0), "north": (0.0, 1.0), "south": (0.0, -1.0)}
MOON_GRAVITY = 1.62  # m/s^2
PRESET_ALTITUDE = 830.0  # m, where the front-engine preset ends
STANDARD_KEYS = ("STATUS", "RPOS", "RVEL", "AROT")


def v830(altitude, sink):
    return math.sqrt(sink * sink + 2.0 * MOON_GRAVITY * (altitude - PRESET_ALTITUDE))


def template_mjd(text):
    m = re.search(r"^\s*Date\s+MJD\s+(\S+)", text, re.MULTILINE)
    if not m:
        raise SystemExit("template has no 'Date MJD' line")
    return float(m.group(1))


def with_start(text, start):
    """The template with its STATUS/RPOS/RVEL/AROT lines replaced by start's."""
    by_key = {line.split()[0]: line for line in start}
    out, replaced = [], set()
    for line in text.splitlines():
        words = line.split()
        if words and words[0] in STANDARD_KEYS and words[0] not in replaced:
            out.append(by_key[words[0]])
            replaced.add(words[0])
        else:
            out.append(line)
    missing = set(STANDARD_KEYS) - replaced
    if missing:
        raise SystemExit("template lacks the lines " + ", ".join(sorted(missing)))
    return "\n".join(out) + "\n"


def check_template(text, args, mjd):
    """Refuse a template whose start is not the one --lng/--lat describe."""
    start = surface_start.start_lines("Moon", args.lng, args.lat, 2000.0, 20.0, 0.0, 0.0, 90.0, mjd)
    if with_start(text, start) != text.rstrip("\n") + "\n":
        raise SystemExit(f"template's start is not 2000 m, 20 m/s, nose east at lng {args.lng}, lat {args.lat}")


# vtal-sim's verdicts, in short.
SHORT = {"soft landing": "soft", "hard landing": "HARD", "crash": "CRASH", "tipped over": "TIPPED",
         "still flying": "flying", "out of propellant before touchdown": "DRY"}

# How vtal-sim's report says a vessel ended, in short.
ENDINGS = {"at rest on the surface": "rest", "on the ground": "ground", "in flight": "flying"}


def posture(tilt):
    """How the lander lies, from its tilt off the local vertical (deg)."""
    return "up" if tilt <= 45.0 else "down" if tilt >= 135.0 else "side"


def fly(sim, workdir, name, scenario):
    scn = os.path.join(workdir, name + ".scn")
    report = os.path.join(workdir, name + ".json")
    with open(scn, "w") as f:
        f.write(scenario)
    run = subprocess.run([sim, scn, "--report", report], capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError(f"{name}: vtal-sim exit {run.returncode}: {run.stderr.strip()}")
    with open(report) as f:
        rep = json.load(f)
    vessel = rep["vessels"][0]
    # The verdict is the flight host's own (the classifier campaigns share).
    printed = re.search(r"outcome \([^)]*\): (.*)", run.stdout)
    if printed is None or printed.group(1).strip() not in SHORT:
        raise RuntimeError(f"{name}: no outcome line vtal-sim is known to print in: {run.stdout!r}")
    outcome = printed.group(1).strip()
    td = vessel["touchdown"] or {}
    return {
        "outcome": outcome,
        "t": td.get("time"),
        "sink": -td["vertical_speed"] if td else None,
        "drift": td.get("horizontal_speed"),
        "pitch": td.get("pitch_deg"),
        "bank": td.get("bank_deg"),
        "heading": td.get("heading_deg"),
        "ended": vessel["ended"],
        "tilt": vessel["final"]["tilt_deg"],
    }


def num(x, fmt):
    return "-" if x is None else format(x, fmt)


def row(r):
    short = SHORT[r["outcome"]]
    if r["outcome"] in ("crash", "tipped over"):
        short += "," + ENDINGS[r["ended"]] + "," + posture(r["tilt"])
    return (f"{short:<17} {num(r['t'], '7.2f')} {num(r['sink'], '6.2f')} {num(r['drift'], '5.2f')}"
            f" {num(r['pitch'], '7.1f')} {num(r['bank'], '6.1f')} {num(r['heading'], '6.1f')}")


ROW_HEAD = f"{'outcome':<17} {'t_td':>7} {'sink':>6} {'drift':>5} {'pitch':>7} {'bank':>6} {'hdg':>6}"


def band(grid):
    """Each start's group: soft, or a crash below or above its altitude's soft landings.

    At one altitude the soft landings span a range of sink rates; a start that
    does not land softly is put below that range if a faster start at the same
    altitude lands softly, above it otherwise. A start counts as soft only if
    it lands softly with both headings.
    """
    groups = {}
    for h in ALTITUDES:
        soft = [v for v in SINK_RATES if all(grid[(h, v)][n]["outcome"] == "soft landing" for n, _ in HEADINGS)]
        for v in SINK_RATES:
            if v in soft:
                key = "soft landing"
            elif not soft:
                key = "not soft, no soft landing at this altitude"
            else:
                key = "not soft, below the soft band" if v < max(soft) else "not soft, above the soft band"
            groups.setdefault(key, []).append((h, v))
    return groups


def summary(grid):
    lines = []
    for key, starts in sorted(band(grid).items()):
        by_alt = {}
        for h, v in starts:
            by_alt.setdefault(h, []).append(v)
        runs = [grid[s][n] for s in starts for n, _ in HEADINGS]
        outcomes = sorted({r["outcome"] for r in runs})
        sinks = [r["sink"] for r in runs if r["sink"] is not None]
        v8 = [v830(h, v) for h, v in starts]
        lines.append(f"{key} ({', '.join(outcomes)}):")
        lines.append("    " + "; ".join(f"{h} m at {', '.join(map(str, vs))}" for h, vs in by_alt.items()))
        span = f"first contact {min(sinks):.2f}-{max(sinks):.2f} m/s down" if sinks else "no contact"
        lines.append(f"    v830 {min(v8):.1f}-{max(v8):.1f} m/s; {span}")
    return lines


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--sim", default=os.path.join(ROOT, "build", "release", "bin", "vtal-sim"), help="vtal-sim program")
    p.add_argument("--template", default=os.path.join(ROOT, "scenarios", "Lander", "Descent.scn"),
                   help="scenario whose start is replaced")
    p.add_argument("--lng", type=float, default=-23.4, help="longitude of the template's start, deg east")
    p.add_argument("--lat", type=float, default=3.0, help="latitude of the template's start, deg north")
    p.add_argument("--jobs", type=int, default=2, help="runs at once")
    a = p.parse_args(argv)
    if a.jobs < 1:
        p.error("--jobs must be at least 1")
    if not os.access(a.sim, os.X_OK):
        p.error(f"no vtal-sim program at {a.sim}")
    with open(a.template) as f:
        text = f.read()
    mjd = template_mjd(text)
    check_template(text, a, mjd)

    def scenario(alt, sink, heading, east=0.0, north=0.0):
        return with_start(text, surface_start.start_lines("Moon", a.lng, a.lat, alt, sink, east, north, heading, mjd))

    jobs = {}
    for h in ALTITUDES:
        for v in SINK_RATES:
            for name, hdg in HEADINGS:
                jobs[("grid", h, v, name)] = scenario(h, v, hdg)
    for speed in GROUND_SPEEDS:
        for d, (e, n) in DIRECTIONS.items():
            jobs[("drift", speed, d)] = scenario(2000.0, 20.0, 90.0, e * speed, n * speed)

    with tempfile.TemporaryDirectory(prefix="envelope-") as work, \
            concurrent.futures.ThreadPoolExecutor(max_workers=a.jobs) as pool:
        futures = {k: pool.submit(fly, a.sim, work, "_".join(map(str, k)), s) for k, s in jobs.items()}
        try:
            done = {k: f.result() for k, f in futures.items()}
        except (RuntimeError, OSError, ValueError, KeyError) as e:
            raise SystemExit(f"envelope_grid: {e}")

    print(f"template {os.path.relpath(a.template, ROOT)}: lng {a.lng}, lat {a.lat}, MJD {mjd}; "
          "t_td, sink (down), drift, pitch, bank, hdg at first contact")
    print("soft = soft landing, HARD = hard landing, CRASH = the module's crash notice, then how the lander "
          "ended (rest = at rest on the surface, ground = on the ground, flying = in flight) and lay "
          "(up, side, down); flying = still flying")
    print()
    print(f"{'h0':>5} {'v0':>4} {'v830':>6} | east: {ROW_HEAD} | west: {ROW_HEAD} | same")
    grid = {}
    for h in ALTITUDES:
        for v in SINK_RATES:
            by = {name: done[("grid", h, v, name)] for name, _ in HEADINGS}
            grid[(h, v)] = by
            same = "yes" if by["east"]["outcome"] == by["west"]["outcome"] else "NO"
            print(f"{h:>5} {v:>4} {v830(h, v):6.1f} |       {row(by['east'])} |       {row(by['west'])} | {same}")
    print()
    print("2000 m, 20 m/s sinking, nose east, with ground speed:")
    print(f"{'speed':>5} {'towards':<7} {ROW_HEAD}")
    for speed in GROUND_SPEEDS:
        for d in DIRECTIONS:
            print(f"{speed:>5} {d:<7} {row(done[('drift', speed, d)])}")
    print()
    print("Starts by outcome, both headings:")
    for line in summary(grid):
        print("  " + line)
    differ = [f"{h} m at {v} m/s" for (h, v), by in grid.items() if by["east"]["outcome"] != by["west"]["outcome"]]
    print("East and west differ at: " + (", ".join(differ) if differ else "no start"))


if __name__ == "__main__":
    main(sys.argv[1:])
