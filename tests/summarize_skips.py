#!/usr/bin/env python3
"""summarize_skips.py JUNIT...: one line on what a test run skipped, and why.

CTest's JUnit reports (ctest --output-junit) mark every test that ended
with its skip status. A run that skipped tests is not a full run, so this
prints one summary line: how many were skipped, grouped by the reason the
tests themselves gave (a GoogleTest skip message, or a script's "SKIP:"
line), each reason saying what would make them run. A run that skipped
nothing says so too.

Exit status: 0, or 1 when tests were skipped and the environment has CI set
to "true" (a CI run must run everything it claims to).
"""
import os
import sys
import xml.etree.ElementTree as ElementTree


def reason_of(output):
    """The first line that explains the skip, from the test's own output."""
    lines = [line.strip() for line in output.splitlines()]
    for index, line in enumerate(lines):
        if line.startswith("SKIP:") or line.startswith("skipped:"):
            return line.split(":", 1)[1].strip()
        # GoogleTest: "file.cpp:12: Skipped" and the message on the next line.
        if line.endswith(": Skipped") and index + 1 < len(lines) and lines[index + 1]:
            return lines[index + 1]
    return "no reason given"


def main(reports):
    total = 0
    reasons = {}
    for report in reports:
        if not os.path.exists(report):
            print(f"summarize_skips: no report {report}", file=sys.stderr)
            return 1
        for case in ElementTree.parse(report).getroot().iter("testcase"):
            total += 1
            if case.find("skipped") is None:
                continue
            output = case.findtext("system-out") or ""
            reason = reason_of(output)
            reasons.setdefault(reason, []).append(case.get("name"))
    skipped = sum(len(names) for names in reasons.values())
    if skipped == 0:
        print(f"make test: all {total} tests ran; none skipped")
        return 0
    parts = [f"{len(names)} x {reason} (e.g. {names[0]})" for reason, names in
             sorted(reasons.items(), key=lambda item: -len(item[1]))]
    print(f"make test: {skipped} of {total} tests SKIPPED: " + "; ".join(parts))
    if os.environ.get("CI") == "true":
        print("make test: a CI run must run every test; failing", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
