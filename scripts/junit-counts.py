#!/usr/bin/env python3
"""Counts a ctest JUnit report: prints "NAME: N passed, N failed, N skipped".

    junit-counts.py NAME REPORT.xml [--skip-fails PREFIX]...

A skipped test whose name starts with one of the --skip-fails prefixes counts as failed (CI uses
it for end-to-end tests, which must run there). Exits 1 when anything failed.
"""
import sys
import xml.etree.ElementTree as ET


def main(argv):
    name, report = argv[1], argv[2]
    strict = [argv[i + 1] for i in range(3, len(argv) - 1) if argv[i] == "--skip-fails"]
    passed = failed = skipped = 0
    for case in ET.parse(report).getroot().iter("testcase"):
        test = case.get("name", "")
        state = case.get("status")
        if state == "run" and case.find("skipped") is None:
            passed += 1
        elif state in ("notrun", "disabled", "skipped") or case.find("skipped") is not None:
            if any(test.startswith(p) for p in strict):
                print(f"{name}: {test} was skipped; it must run here")
                failed += 1
            else:
                skipped += 1
        else:
            failed += 1
    print(f"{name}: {passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
