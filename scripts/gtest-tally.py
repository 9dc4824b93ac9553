#!/usr/bin/env python3
"""gtest-tally.py CTEST_LOG XML_DIR

Counts a build whose GoogleTest binaries each ran as one ctest test
("<build>.<binary>") with --gtest_output=xml:XML_DIR/<binary>.xml: every test
case of those binaries counts once, from its XML; a binary that left no XML
(a crash, a timeout) counts as one failure; every other ctest test counts as
itself. The caller empties XML_DIR before the run. Prints "PASSED FAILED SKIPPED" on one line.
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

RESULT = re.compile(r"Test +#\d+: (\S+) \.+\**\s*(Passed|Failed|\*\*\*Failed|Skipped|\*\*\*Skipped|"
                    r"Not Run|\*\*\*Not Run|Exception|\*\*\*Exception|\*\*\*Timeout|Timeout)")


def cases(xml_path):
    """(passed, failed, skipped) of one GoogleTest XML report."""
    root = ET.parse(xml_path).getroot()
    passed = failed = skipped = 0
    for case in root.iter("testcase"):
        if case.get("result") == "skipped" or case.get("status") == "notrun":
            skipped += 1
        elif case.find("failure") is not None:
            failed += 1
        else:
            passed += 1
    return passed, failed, skipped


def main():
    log, xml_dir = sys.argv[1], sys.argv[2]
    passed = failed = skipped = 0
    with open(log, errors="replace") as f:
        for line in f:
            m = RESULT.search(line)
            if not m:
                continue
            name, outcome = m.group(1), m.group(2).lstrip("*")
            binary = name.split(".", 1)[1] if "." in name else name
            xml = os.path.join(xml_dir, binary + ".xml")
            if os.path.exists(xml):
                p, fl, s = cases(xml)
                # A binary that failed outside any case (a crash after the
                # last one, a leak check at exit) still fails once.
                if outcome != "Passed" and fl == 0:
                    fl = 1
                passed, failed, skipped = passed + p, failed + fl, skipped + s
            elif outcome == "Passed":
                passed += 1
            elif outcome == "Skipped":
                skipped += 1
            else:
                failed += 1
    print(passed, failed, skipped)


if __name__ == "__main__":
    main()
