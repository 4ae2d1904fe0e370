#!/usr/bin/env bash
# Golden outputs of the flight host: a fixed set of flights flown with
# BUILD_DIR/bin/vtal-sim, every file they write (and their standard output,
# standard error and exit status) compared byte for byte with what is kept in
# tests/golden/ of this repository. It is what shows that a change meant to
# leave the flight host's behaviour alone did.
#
#   scripts/golden.sh BUILD_DIR --check    fly the set, compare; exit 1 on any difference
#   scripts/golden.sh BUILD_DIR --record   fly the set twice, require the two to be
#                                          identical, then write tests/golden/expected/
#                                          and tests/golden/hashes.sha256
#
# With VTAL_GOLDEN_SKIP_VIEW=1 in the environment (a build configured with
# -DVTAL_VIEWER=OFF, which has no replay page) --check leaves the view case
# out, flown and compared alike, and says so; --record refuses to run.
#
# The flights (each in a folder of its own, named after the case):
#   descent        the default descent with --telemetry, --report, --save
#   reference_2000 the two reference flights of the real host (docs/vtal-sim.md),
#   reference_1500 from tests/golden/inputs/, with --report and --telemetry
#   two_landers    Lander/TwoLanders flown to 120 s with keys, --hud and --save
#   landed_reload  the default descent saved with --precise once landed, then
#                  that file flown for 20 s more (saved, reported, telemetry)
#   fuel_depot     Lander/FuelDepot at --dt 0.05 with --every 0.5 and --quiet
#   real_host      a file as the real host writes it (carried sections, a
#                  vessel about another body, an unknown class, a BASE)
#   mars           a descent over Mars (atmosphere; it ends in a crash notice,
#                  the lander tumbling to rest on the surface)
#   campaign       vtal-sim montecarlo, 200 runs, seed 1, two processes; flown
#                  once more with one process, whose summary and CSV must be
#                  the same bytes (the records are collected by run index)
#   view           the replay page of the default descent to 90 s with K and G
#
# Files up to 200 KB are kept verbatim under tests/golden/expected/CASE/, so a
# difference is shown as a diff. Larger ones (telemetry of every frame, the
# replay page) are kept only as a sha256 in tests/golden/hashes.sha256; of a
# telemetry CSV every 20th line (and the last) is also kept verbatim as
# NAME.rows, and of the replay page the flight record inside it as
# page.html.record, so that a failing hash says where to look.
#
# What is normalised before comparing, in every output:
#   - the absolute path of BUILD_DIR (the installation root: shipped scenarios
#     are named by their full path) becomes @BUILD_DIR@;
#   - the absolute path of the temporary folder the flights run in becomes @TMP@;
#   - the campaign's last line on standard error, "flown in S s: R runs/s ...",
#     is wall-clock time: S and R become @SECONDS@ and @RATE@.
# Nothing else varies from run to run (--record flies the set twice to show it).
set -uo pipefail

usage() {
    echo "usage: $0 BUILD_DIR (--check | --record)" >&2
    exit 2
}
[[ $# -eq 2 ]] || usage
case $2 in
    --check) mode=check ;;
    --record) mode=record ;;
    *) usage ;;
esac

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
golden=$repo/tests/golden
build_given=$1
skip_view=0
[[ ${VTAL_GOLDEN_SKIP_VIEW:-0} == 1 ]] && skip_view=1
if ((skip_view)) && [[ $mode == record ]]; then
    echo "golden: --record needs the view case: unset VTAL_GOLDEN_SKIP_VIEW and use a build with the replay page" >&2
    exit 2
fi
if [[ ! -d $build_given ]]; then
    echo "golden: no build folder $build_given" >&2
    exit 2
fi
build=$(cd "$build_given" && pwd -P)
build_logical=$(cd "$build_given" && pwd -L)
sim=$build/bin/vtal-sim
if [[ ! -x $sim ]]; then
    echo "golden: $sim is missing (build the vtal-sim target)" >&2
    exit 2
fi
viewer_template=$build/share/vtal/Viewer/vtal-viewer.html
readonly size_limit=204800   # bytes; larger outputs are kept as a hash
readonly row_step=20         # every how many lines of a hashed CSV are kept

export LC_ALL=C TZ=UTC

# ---------------------------------------------------------------------------
# Flying

# fly CASE STEP ARGS...: vtal-sim ARGS in the case's folder; STEP.stdout,
# STEP.stderr and STEP.status beside what it writes.
fly() {
    local dir=$out/$1 step=$2
    shift 2
    mkdir -p "$dir"
    (cd "$dir" && "$sim" "$@" >"$step.stdout" 2>"$step.stderr" </dev/null; echo $? >"$step.status")
}

# input CASE FILE: a scenario of tests/golden/inputs/ into the case's folder.
input() {
    mkdir -p "$out/$1"
    cp "$golden/inputs/$2" "$out/$1/$2"
    inputs+=("$1/$2")
}

# fly_set DEST: the whole set, flown in $tmp/flight (so that every output
# names the same folder) and moved to DEST once normalised.
fly_set() {
    out=$tmp/flight
    rm -rf "$out"
    mkdir -p "$out"
    inputs=()
    fly descent run --telemetry telemetry.csv --report report.json --save saved.scn

    input reference_2000 host_reference_2000.scn
    fly reference_2000 run host_reference_2000.scn --report report.json --telemetry telemetry.csv
    input reference_1500 host_reference_1500.scn
    fly reference_1500 run host_reference_1500.scn --report report.json --telemetry telemetry.csv

    fly two_landers run Lander/TwoLanders --keys "75:K,75:G,80:C,82-87:V,88-90:shift+B" --until 120 \
        --telemetry telemetry.csv --report report.json --save saved.scn --hud hud.svg

    fly landed_reload land --save landed.scn --precise
    fly landed_reload reload landed.scn --until 20 --save reloaded.scn --precise --report report.json \
        --telemetry telemetry.csv

    fly fuel_depot run Lander/FuelDepot --until 30 --dt 0.05 --every 0.5 --quiet \
        --telemetry telemetry.csv --report report.json --save saved.scn

    input real_host real_host.scn
    fly real_host run real_host.scn --until 15 --report report.json --save saved.scn --telemetry telemetry.csv \
        --every 0.25

    input mars mars_descent.scn
    fly mars run mars_descent.scn --report report.json --save saved.scn --telemetry telemetry.csv --every 0.25 \
        --hud hud.svg

    fly campaign run montecarlo --runs 200 --seed 1 --jobs 2 --no-progress --csv runs.csv
    fly campaign_one_process run montecarlo --runs 200 --seed 1 --jobs 1 --no-progress --csv runs.csv

    ((skip_view)) || fly view run --until 90 --keys "75:K,75:G" --view page.html

    local f
    for f in "${inputs[@]}"; do rm -f "$out/$f"; done
    normalise "$out"
    derive "$out"
    mv "$out" "$1"
}

# Escapes a literal for the left side of a sed s||| expression.
sed_literal() {
    printf '%s' "$1" | sed 's/[][\.*^$|/]/\\&/g'
}

normalise() {
    local dir=$1 f dir_real
    dir_real=$(cd "$dir" && pwd -P)
    # The flight folder first: it is the longer path should one hold the other.
    local expr=(-e "s|$(sed_literal "$dir_real")|@TMP@|g")
    [[ $dir != "$dir_real" ]] && expr+=(-e "s|$(sed_literal "$dir")|@TMP@|g")
    expr+=(-e "s|$(sed_literal "$build")|@BUILD_DIR@|g")
    [[ $build_logical != "$build" ]] && expr+=(-e "s|$(sed_literal "$build_logical")|@BUILD_DIR@|g")
    while IFS= read -r -d '' f; do
        sed -i "${expr[@]}" "$f"
    done < <(find "$dir" -type f -print0)
    # Wall-clock time of the campaigns.
    for f in "$dir"/campaign*/run.stderr; do
        [[ -f $f ]] || continue
        sed -i -E 's/^flown in [0-9.]+ s: [0-9.]+ runs\/s/flown in @SECONDS@ s: @RATE@ runs\/s/' "$f"
    done
}

# The verbatim extracts of large outputs.
derive() {
    local dir=$1 f
    for f in "$dir"/*/*.csv; do
        if (($(stat -c %s "$f") > size_limit)); then
            awk -v n="$row_step" 'NR % n == 1 { print; next } END { if (NR % n != 1) print }' "$f" >"$f.rows"
        fi
    done
    # The page is the installed viewer with the flight record in its one data
    # slot: the record alone is what the flight host contributes.
    local page=$dir/view/page.html slot="__VTAL_FLIGHT_RECORD__"
    if [[ -f $page && -f $viewer_template ]]; then
        local at tsize psize tail_len
        at=$(grep -abo "$slot" "$viewer_template" | head -n 1 | cut -d: -f1)
        tsize=$(stat -c %s "$viewer_template")
        psize=$(stat -c %s "$page")
        if [[ -n $at ]]; then
            tail_len=$((tsize - at - ${#slot}))
            if cmp -s <(head -c "$at" "$page") <(head -c "$at" "$viewer_template") &&
                cmp -s <(tail -c "$tail_len" "$page") <(tail -c "$tail_len" "$viewer_template") &&
                ((psize >= at + tail_len)); then
                tail -c +"$((at + 1))" "$page" | head -c "$((psize - at - tail_len))" >"$page.record"
            fi
        fi
    fi
}

# Every file of a flown set, relative to it, sorted.
list_files() {
    (cd "$1" && find . -type f | sed 's|^\./||' | sort)
}

# ---------------------------------------------------------------------------

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vtal-golden.XXXXXX") || exit 2
keep=0
cleanup() { ((keep)) || rm -rf "$tmp"; }
trap cleanup EXIT

# The campaign flown with one process writes what it writes with two.
same_campaign() {
    local dir=$1 f ok=0
    for f in run.stdout run.status runs.csv; do
        if ! cmp -s "$dir/campaign/$f" "$dir/campaign_one_process/$f"; then
            echo "golden: the campaign's $f differs between --jobs 2 and --jobs 1" >&2
            diff -u "$dir/campaign/$f" "$dir/campaign_one_process/$f" | head -n 40 >&2
            ok=1
        fi
    done
    return $ok
}

if [[ $mode == record ]]; then
    fly_set "$tmp/first"
    fly_set "$tmp/second"
    if ! diff -r "$tmp/first" "$tmp/second" >"$tmp/rerun.diff"; then
        echo "golden: two flights of the same set differ; nothing recorded" >&2
        head -n 60 "$tmp/rerun.diff" >&2
        exit 1
    fi
    same_campaign "$tmp/first" || exit 1
    rm -rf "$golden/expected"
    mkdir -p "$golden/expected"
    : >"$golden/hashes.sha256"
    while IFS= read -r f; do
        if (($(stat -c %s "$tmp/first/$f") > size_limit)); then
            (cd "$tmp/first" && sha256sum -- "$f") >>"$golden/hashes.sha256"
        else
            mkdir -p "$(dirname "$golden/expected/$f")"
            cp "$tmp/first/$f" "$golden/expected/$f"
        fi
    done < <(list_files "$tmp/first")
    echo "golden: recorded $(list_files "$tmp/first" | wc -l) files from $sim in $golden"
    exit 0
fi

((skip_view)) && echo "golden: VTAL_GOLDEN_SKIP_VIEW=1: the view case (the replay page) is left out"
fly_set "$tmp/actual"
actual=$tmp/actual
failed=()
note() { failed+=("$1"); echo "golden: $1" >&2; }

# The same files, no more, no fewer.
{
    list_files "$golden/expected"
    awk '{ print $2 }' "$golden/hashes.sha256"
} | sort | if ((skip_view)); then grep -v '^view/'; else cat; fi >"$tmp/expected.list"
list_files "$actual" >"$tmp/actual.list"
while IFS= read -r f; do note "missing output: $f"; done < <(comm -23 "$tmp/expected.list" "$tmp/actual.list")
while IFS= read -r f; do note "unexpected output: $f"; done < <(comm -13 "$tmp/expected.list" "$tmp/actual.list")

# Verbatim files, the first difference shown.
shown=0
while IFS= read -r f; do
    [[ -f $actual/$f ]] || continue
    if ! cmp -s "$golden/expected/$f" "$actual/$f"; then
        note "differs: $f"
        if ((!shown)); then
            shown=1
            diff -u --label "expected/$f" --label "actual/$f" "$golden/expected/$f" "$actual/$f" | head -n 60 >&2
        fi
    fi
done < <(list_files "$golden/expected")

# Hashed files.
while read -r sum f; do
    [[ -f $actual/$f ]] || continue
    got=$(sha256sum <"$actual/$f" | cut -d' ' -f1)
    if [[ $got != "$sum" ]]; then
        note "differs: $f (sha256 $got, expected $sum; $(stat -c %s "$actual/$f") bytes)"
    fi
done <"$golden/hashes.sha256"

# The page differs but not the record in it: the viewer it was built from did.
page_sum=$(awk '$2 == "view/page.html" { print $1 }' "$golden/hashes.sha256")
record_sum=$(awk '$2 == "view/page.html.record" { print $1 }' "$golden/hashes.sha256")
if [[ -f $actual/view/page.html && -f $actual/view/page.html.record ]] &&
    [[ $(sha256sum <"$actual/view/page.html" | cut -d' ' -f1) != "$page_sum" ]] &&
    [[ $(sha256sum <"$actual/view/page.html.record" | cut -d' ' -f1) == "$record_sum" ]]; then
    echo "golden: the flight record inside view/page.html is unchanged; the page's viewer" \
        "($viewer_template) differs" >&2
fi

same_campaign "$actual" || failed+=("campaign --jobs 1")

if ((${#failed[@]})); then
    keep=1
    echo "golden: FAILED, ${#failed[@]} difference(s) from tests/golden with $sim;" \
        "the normalised outputs are kept in $actual" >&2
    exit 1
fi
echo "golden: all $(wc -l <"$tmp/actual.list") outputs of $sim match tests/golden$( ((skip_view)) && echo " (the view case left out)")"
