#!/usr/bin/env python3
"""scripts/check-includes on scratch trees: it passes a tree that keeps
the order of folders, and names each file that breaks it: a lower folder
including a higher one, siblings including each other, a folder outside
the order, and a cycle of modules.

    check_includes_test.py CHECKER
"""
import os
import subprocess
import sys
import tempfile

checker = sys.argv[1]
failures = []


def check(files, status, lines, what):
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "include"))
        for name, includes in files.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write("#pragma once\n" + "".join(f'#include "{i}"\n' for i in includes))
        run = subprocess.run([sys.executable, checker, root], capture_output=True, text=True)
        if run.returncode != status or run.stdout.splitlines() != lines:
            failures.append(f"{what}: status {run.returncode}, output:\n{run.stdout}{run.stderr}")


base = {
    "src/platform/heap.h": [],
    "src/common/text.h": ["platform/heap.h"],
    "src/raster/rows.h": ["common/text.h"],
    "src/georef/fit.h": ["common/text.h", "bsb.h"],
    "src/chart/open.h": ["raster/rows.h", "georef/fit.h"],
    "src/host/exports.h": ["chart/open.h"],
    "include/bsb.h": [],
}
check(base, 0, ["7 modules, 7 includes, 0 problems"], "a tree in order")

upward = dict(base, **{"src/raster/rows.h": ["common/text.h", "chart/open.h"]})
check(upward, 1, ["src/raster/rows.h: raster/ must not include chart/open.h",
                  "include cycle: src/chart/open -> src/raster/rows -> src/chart/open",
                  "7 modules, 8 includes, 2 problems"], "raster/ including chart/")

sideways = dict(base, **{"src/georef/fit.h": ["common/text.h", "raster/rows.h"]})
check(sideways, 1, ["src/georef/fit.h: georef/ must not include raster/rows.h",
                    "7 modules, 7 includes, 1 problems"], "georef/ including raster/")

lowest = dict(base, **{"src/platform/heap.h": ["common/text.h"]})
check(lowest, 1, ["src/platform/heap.h: platform/ must not include common/text.h",
                  "include cycle: src/common/text -> src/platform/heap -> src/common/text",
                  "7 modules, 8 includes, 2 problems"], "platform/ including common/")

stranger = dict(base, **{"src/extra/thing.h": ["common/text.h"]})
check(stranger, 1, ["src/extra/thing.h: extra/ has no place in the order of folders",
                    "8 modules, 8 includes, 1 problems"], "a folder outside the order")

cycle = dict(base, **{"src/raster/rows.h": ["common/text.h", "raster/tiles.h"], "src/raster/tiles.h": ["raster/rows.h"]})
check(cycle, 1, ["include cycle: src/raster/rows -> src/raster/tiles -> src/raster/rows",
                 "8 modules, 9 includes, 1 problems"], "a cycle inside a folder")

for f in failures:
    print(f)
print(f"{6 - len(failures)} of 6 scratch trees checked as expected")
sys.exit(1 if failures else 0)
