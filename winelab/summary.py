"""python3 -m winelab.summary IMAGE=RESULTS...: one line saying which images'
Wine suites ran and which skipped, and why, from each tree's CTest results
in JUnit form.

A skipped Wine test says why in a line of its output that starts with "SKIP: ".
"""
import sys
import xml.etree.ElementTree as ElementTree


def image_summary(image, results):
    cases = [case for case in ElementTree.parse(results).getroot().iter("testcase")
             if case.get("name", "").startswith("wine.")]
    ran = sum(case.get("status") == "run" for case in cases)
    skipped = [case for case in cases if case.find("skipped") is not None]
    if not cases:
        return f"{image} has none"
    if not skipped:
        return f"{image} ran all {ran}"
    reasons = dict.fromkeys(line.removeprefix("SKIP: ") for case in skipped
                            for line in (case.findtext("system-out") or "").splitlines()
                            if line.startswith("SKIP: "))
    why = "; ".join(reasons) or "no reason given"
    if not ran:
        return f"{image} skipped all {len(skipped)} ({why})"
    return f"{image} ran {ran} and skipped {len(skipped)} ({why})"


print("Wine suites: " + "; ".join(image_summary(*pair.split("=", 1)) for pair in sys.argv[1:]) + ".")
