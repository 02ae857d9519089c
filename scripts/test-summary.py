"""Summarises the JUnit files that `ctest --output-junit` wrote: per run, how many tests
ran, passed, failed and were skipped, and why each skipped test (or skipped case inside
a test, such as a Python test's) was skipped.

    /usr/bin/python3 scripts/test-summary.py RESULTS.xml...
"""

import collections
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

# A Python unittest case: "test_name (module.Class) ... skipped 'why'".
PYTHON_SKIP = re.compile(r"^(\S+) .*\.\.\. skipped '(.*)'$", re.MULTILINE)


def gtest_skip_reason(output):
    """The message after GoogleTest's "Skipped" line, up to its "[  SKIPPED ]" line."""
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if line.endswith(": Skipped"):
            reason = []
            for following in lines[i + 1:]:
                if following.startswith("[  SKIPPED ]"):
                    break
                reason.append(following.strip())
            return " ".join(part for part in reason if part) or "no reason given"
    return "no reason given"


def summarise(path):
    run = os.path.splitext(os.path.basename(path))[0]
    try:
        cases = ElementTree.parse(path).getroot().iter("testcase")
    except (OSError, ElementTree.ParseError) as error:
        print(f"{run}: no results ({error})")
        return
    counts = collections.Counter()
    reasons = collections.Counter()
    for case in cases:
        output = case.findtext("system-out") or ""
        status = case.get("status")
        if case.find("skipped") is not None or status in ("notrun", "disabled"):
            counts["skipped"] += 1
            reasons[gtest_skip_reason(output)] += 1
            continue
        counts["failed" if status == "fail" else "passed"] += 1
        for _name, why in PYTHON_SKIP.findall(output):
            counts["skipped cases inside passed tests"] += 1
            reasons[why] += 1
    ran = counts["passed"] + counts["failed"]
    line = f"{run}: {ran} tests ran ({counts['passed']} passed, {counts['failed']} failed), {counts['skipped']} skipped"
    inner = counts["skipped cases inside passed tests"]
    if inner:
        line += f", and {inner} cases skipped inside tests that passed"
    print(line)
    for why, count in reasons.most_common():
        print(f"    {count} x skipped: {why}")


def main(paths):
    for path in paths:
        summarise(path)


if __name__ == "__main__":
    main(sys.argv[1:])
