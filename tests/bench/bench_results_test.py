#!/usr/bin/env python3
"""scripts/bench-results.py: the RESULT lines it reads, the goals it judges and the table and
memory figures it prints."""
import os
import runpy
import subprocess
import sys
import tempfile
import types
import unittest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "bench-results.py")
# The script's functions, loaded without running its main.
results = types.SimpleNamespace(**runpy.run_path(SCRIPT))

TIME_V = """\tCommand being timed: "tarnwick-cli load image.bin"
\tUser time (seconds): 0.42
\tSystem time (seconds): 0.38
\tPercent of CPU this job got: 6%
\tMaximum resident set size (kbytes): 6144
\tExit status: 0
"""


def line(name="serial.ratio", value="1.012", goal="<=1.03", what="serial 512 KiB"):
    return 'RESULT name=%s value=%s goal=%s what="%s"' % (name, value, goal, what)


class ResultLines(unittest.TestCase):
    def test_every_field_is_read_and_the_value_is_a_number(self):
        r = results.parse_result(line(what="a text with spaces, = signs and <= 3"))
        self.assertEqual(r["name"], "serial.ratio")
        self.assertEqual(r["value"], 1.012)
        self.assertEqual(r["goal"], "<=1.03")
        self.assertEqual(r["what"], "a text with spaces, = signs and <= 3")

    def test_a_malformed_line_is_refused(self):
        for bad in [line(value="fast"), line(goal="<=x"), line(goal="about 1"),
                    'RESULT name=a value=1 goal=-', "RESULT", 'RESULT name=a value=1 what="x']:
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                results.parse_result(bad)

    def test_other_output_is_passed_over_but_a_figure_twice_is_an_error(self):
        got = results.collect(["serial load of 524288 bytes\n", line() + "\n",
                               "  ratio 1.0 (goal 1.03)\n", line(name="link.ratio") + "\n"])
        self.assertEqual([r["name"] for r in got], ["serial.ratio", "link.ratio"])
        with self.assertRaises(ValueError):
            results.collect([line(), line()])


class Goals(unittest.TestCase):
    def test_each_kind_of_bound_at_and_around_its_edge(self):
        cases = [(1.03, "<=1.03", True), (1.031, "<=1.03", False), (7.99, "<8", True),
                 (8.0, "<8", False), (0.0, "=0", True), (0.001, "=0", False),
                 (2.04, "=0", False), (5.0, "-", None)]
        for value, goal, met in cases:
            with self.subTest(value=value, goal=goal):
                self.assertIs(results.goal_met(value, goal), met)

    def test_the_table_marks_each_row_and_counts_the_misses(self):
        text = results.table(results.collect([
            line(), line(name="link.ratio", value="6.8", goal="<=2.0"),
            line(name="codec.x", value="0.5", goal="-")]))
        rows = text.splitlines()
        self.assertIn("| serial.ratio | serial 512 KiB | 1.012 | <=1.03 | yes |", rows)
        self.assertIn("| link.ratio | serial 512 KiB | 6.800 | <=2.0 | **no** |", rows)
        self.assertIn("| codec.x | serial 512 KiB | 0.500 | - | - |", rows)
        self.assertEqual(rows[-1], "3 figures, 2 with a goal, 1 goals not met")


class TimeReport(unittest.TestCase):
    def test_peak_memory_in_mib_and_cpu_per_mib_loaded(self):
        got = [results.parse_result(l) for l in results.time_v("cli.serial", 0.5, "serial", TIME_V)]
        self.assertEqual(got[0]["name"], "cli.serial.peak_rss_mib")
        self.assertAlmostEqual(got[0]["value"], 6.0, places=3)
        self.assertEqual(got[0]["goal"], "<8")
        self.assertIn("serial", got[0]["what"])
        self.assertEqual(got[1]["name"], "cli.serial.cpu_s_per_mib")
        self.assertAlmostEqual(got[1]["value"], 1.6, places=3)

    def test_a_report_without_its_figures_is_an_error(self):
        with self.assertRaises(ValueError):
            results.time_v("cli.serial", 0.5, "serial", TIME_V.replace("Maximum resident", "Average resident"))
        with self.assertRaises(ValueError):
            results.time_v("cli.serial", 0, "serial", TIME_V)


class CommandLine(unittest.TestCase):
    def run_script(self, *args):
        return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True,
                              timeout=30)

    def test_table_of_a_file_and_failure_on_a_bad_line(self):
        with tempfile.TemporaryDirectory() as d:
            good, bad = os.path.join(d, "good"), os.path.join(d, "bad")
            with open(good, "w") as f:
                f.write("noise\n" + line() + "\n")
            with open(bad, "w") as f:
                f.write(line(value="NaN?") + "\n")
            done = self.run_script("table", good)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("| serial.ratio |", done.stdout)
            done = self.run_script("table", good, bad)
            self.assertEqual(done.returncode, 1)
            self.assertIn("bench-results:", done.stderr)
            self.assertEqual(self.run_script("table", os.path.join(d, "missing")).returncode, 1)
            self.assertEqual(self.run_script("unknown").returncode, 2)

    def test_time_v_reads_a_report_file(self):
        with tempfile.TemporaryDirectory() as d:
            report = os.path.join(d, "time.txt")
            with open(report, "w") as f:
                f.write(TIME_V)
            done = self.run_script("time-v", "cli.link", "0.5", "network device", report)
            self.assertEqual(done.returncode, 0, done.stderr)
            names = [results.parse_result(l)["name"] for l in done.stdout.splitlines()]
            self.assertEqual(names, ["cli.link.peak_rss_mib", "cli.link.cpu_s_per_mib"])


if __name__ == "__main__":
    unittest.main()
