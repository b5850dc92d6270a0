#!/usr/bin/env python3
"""The figures of `./run bench`.

    bench-results.py table OUTPUT...      one table of every RESULT line in the benchmarks' output
    bench-results.py time-v NAME MIB ROAD FILE
                                          RESULT lines from a `/usr/bin/time -v` report of a load
                                          of MIB mebibytes on ROAD: peak resident memory and CPU

A RESULT line is  RESULT name=NAME value=NUMBER goal=GOAL what="TEXT"  where GOAL is <=X, <X,
=X, or - for a figure shown without a goal. A malformed line fails the run (status 1), and so
does a figure listed twice, so a broken benchmark cannot pass unnoticed.
"""
import re
import shlex
import sys

GOAL = re.compile(r"^(<=|<|=)(-?[0-9.]+)$")


def parse_result(line):
    """The fields of one RESULT line; ValueError when a field is missing or malformed."""
    words = shlex.split(line)
    if not words or words[0] != "RESULT":
        raise ValueError("not a RESULT line: %r" % line)
    fields = dict(word.split("=", 1) for word in words[1:] if "=" in word)
    for key in ("name", "value", "goal", "what"):
        if key not in fields:
            raise ValueError("RESULT line without %s: %r" % (key, line))
    fields["value"] = float(fields["value"])
    if fields["goal"] != "-" and not GOAL.match(fields["goal"]):
        raise ValueError("RESULT line with a goal that is no bound: %r" % line)
    return fields


def goal_met(value, goal):
    """True or False against a bound; None for a figure without a goal."""
    match = GOAL.match(goal)
    if not match:
        return None
    op, bound = match.group(1), float(match.group(2))
    if op == "<=":
        return value <= bound
    if op == "<":
        return value < bound
    return value == bound


def collect(lines):
    results, seen = [], set()
    for line in lines:
        if not line.startswith("RESULT"):
            continue
        result = parse_result(line.rstrip("\n"))
        if result["name"] in seen:
            raise ValueError("figure %s reported twice" % result["name"])
        seen.add(result["name"])
        results.append(result)
    return results


def table(results):
    rows = ["| figure | what | value | goal | met |", "|---|---|---:|---|---|"]
    for r in results:
        met = goal_met(r["value"], r["goal"])
        mark = "-" if met is None else ("yes" if met else "**no**")
        rows.append("| %s | %s | %.3f | %s | %s |" % (r["name"], r["what"], r["value"], r["goal"], mark))
    missed = sum(1 for r in results if goal_met(r["value"], r["goal"]) is False)
    withGoal = sum(1 for r in results if goal_met(r["value"], r["goal"]) is not None)
    rows.append("")
    rows.append("%d figures, %d with a goal, %d goals not met" % (len(results), withGoal, missed))
    return "\n".join(rows)


def time_v(name, mib, road, report):
    """RESULT lines from the text of a `/usr/bin/time -v` report."""
    def number(label):
        match = re.search(r"^\s*" + re.escape(label) + r":\s*([0-9.]+)\s*$", report, re.M)
        if not match:
            raise ValueError("time -v report without %r" % label)
        return float(match.group(1))
    rss_mib = number("Maximum resident set size (kbytes)") / 1024.0
    cpu = number("User time (seconds)") + number("System time (seconds)")
    if mib <= 0:
        raise ValueError("a load of %s MiB" % mib)
    return [
        'RESULT name=%s.peak_rss_mib value=%.3f goal=<8 what="%s: peak resident memory, MiB"'
        % (name, rss_mib, road),
        'RESULT name=%s.cpu_s_per_mib value=%.3f goal=- what="%s: user+system CPU s per MiB"'
        % (name, cpu / mib, road),
    ]


def main(argv):
    try:
        if len(argv) >= 2 and argv[1] == "table":
            lines = []
            for path in argv[2:]:
                with open(path) as f:
                    lines.extend(f)
            print(table(collect(lines)))
            return 0
        if len(argv) == 6 and argv[1] == "time-v":
            with open(argv[5]) as f:
                print("\n".join(time_v(argv[2], float(argv[3]), argv[4], f.read())))
            return 0
    except (OSError, ValueError) as error:
        print("bench-results: %s" % error, file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
