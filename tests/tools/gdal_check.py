#!/usr/bin/env python3
"""GDAL reads what nvch-host writes: every chart converted to a GeoTIFF is
placed by GDAL where the library says it lies, in the coordinate system the
library reports, with the pixels and colours the library delivers, and
GDAL's Cloud Optimized GeoTIFF validator accepts it; every chart rendered
to a PNG with a world file is placed at the same corner and pixel size,
and its .prj holds the coordinate system's text.

    gdal_check.py NVCH_HOST MAKE_SEEDS SAMPLES CHARTS WORKDIR

Exits 77 (skipped) when GDAL's Python bindings are missing.
"""
import hashlib
import json
import os
import subprocess
import sys

try:
    from osgeo import gdal, osr
    from osgeo_utils.samples import validate_cloud_optimized_geotiff as cog
except ImportError:
    print("GDAL's Python bindings (python3-gdal) are missing: skipped")
    sys.exit(77)

gdal.UseExceptions()
host, make_seeds, samples, charts, work = sys.argv[1:6]
os.makedirs(work, exist_ok=True)
problems = []


def run(*args):
    return subprocess.run([host, *args], capture_output=True, text=True)


def close(a, b, absolute, relative):
    return abs(a - b) <= absolute or abs(a - b) <= relative * max(abs(a), abs(b))


def check_place(what, ds, info):
    """The geotransform equals the map information, 1 mm or 1e-9 relative."""
    gt = ds.GetGeoTransform()
    m = info["map_info"]
    want = [m["upper_left_x"], m["pixel_width"], 0.0, m["upper_left_y"], 0.0, m["pixel_height"]]
    for k, (got, expected) in enumerate(zip(gt, want)):
        tolerance = 1e-3 if k in (0, 3) else 1e-12
        if not close(got, expected, tolerance, 1e-9):
            problems.append(f"{what}: geotransform[{k}] is {got!r}, the library says {expected!r}")


def check_crs(what, ds, info):
    wkt = info["coordinate_system"]
    got = ds.GetSpatialRef()
    if wkt is None:
        return
    if got is None:
        problems.append(f"{what}: GDAL finds no coordinate system")
        return
    expected = osr.SpatialReference()
    expected.SetFromUserInput(wkt)
    if not got.IsSame(expected):
        problems.append(f"{what}: GDAL's coordinate system\n  {got.ExportToWkt()}\nis not the library's\n  {expected.ExportToWkt()}")


def check_pixels(what, ds, info, delivered):
    """The pixels GDAL shows are those the library delivers; those it hides
    (no-data) are the zeros outside a skewed chart's stored image."""
    band = ds.GetRasterBand(1)
    pixels = band.ReadRaster()
    shown = band.GetMaskBand().ReadRaster()
    if len(pixels) != len(delivered):
        problems.append(f"{what}: {len(pixels)} pixels, the library delivers {len(delivered)}")
        return
    wrong = sum(1 for p, d, m in zip(pixels, delivered, shown) if (p != d if m else d != 0))
    if wrong:
        problems.append(f"{what}: {wrong} pixels differ from those the library delivers")
    table = band.GetColorTable()
    entries = info["colour_table"]["entries"]
    if table is None:
        problems.append(f"{what}: no colour table")
        return
    for i, (r, g, b) in enumerate(entries):
        if table.GetColorEntry(i)[:3] != (r, g, b):
            problems.append(f"{what}: colour {i} is {table.GetColorEntry(i)[:3]}, the library says {(r, g, b)}")


def check_chart(chart):
    name = os.path.basename(chart)
    info_run = run("info", chart, "--json")
    if info_run.returncode != 0:
        return  # not a chart the library opens: nothing to place
    info = json.loads(info_run.stdout)
    raw = os.path.join(work, name + ".raw")
    run("dump", chart, raw)
    with open(raw, "rb") as f:
        delivered = f.read()

    tif = os.path.join(work, name + ".tif")
    converted = run("convert", chart, tif, "--force")
    unknown = f"nvch-host: {chart}: projection unknown; the GeoTIFF holds the pixel scale and tie point only\n"
    expected_err = unknown if info["coordinate_system"] is None else ""
    if converted.returncode != 0 or not converted.stderr.endswith(expected_err) or (
            expected_err == "" and converted.stderr != ""):
        problems.append(f"{name}: convert said {converted.returncode} {converted.stderr!r}")
        return
    ds = gdal.Open(tif)
    check_place(name + " GeoTIFF", ds, info)
    check_crs(name + " GeoTIFF", ds, info)
    check_pixels(name + " GeoTIFF", ds, info, delivered)
    errors, _, _ = cog.validate(tif)
    if errors:
        problems.append(f"{name}: not a valid COG: {errors}")
    ds = None

    for how, args in (("render --world", ["render", chart, None, "--world"]),
                      ("convert -of png --world", ["convert", chart, None, "-of", "png", "--world", "--force"])):
        png = os.path.join(work, name + (".render.png" if how.startswith("render") else ".convert.png"))
        args[2] = png
        made = run(*args)
        if made.returncode != 0:
            problems.append(f"{name}: {how} said {made.returncode} {made.stderr!r}")
            continue
        ds = gdal.Open(png)
        check_place(f"{name} PNG ({how})", ds, info)
        ds = None
        # GDAL reads no .prj beside a PNG; ESRI's programs do, and it holds
        # the library's text as it is.
        prj = png[:-4] + ".prj"
        wkt = info["coordinate_system"]
        if wkt is not None and (not os.path.exists(prj) or open(prj).read() != wkt):
            problems.append(f"{name}: {prj} does not hold the coordinate system")
    print(f"{name}: checked")


seeds = os.path.join(work, "seeds")
subprocess.run([make_seeds, seeds], check=True)
chosen = [os.path.join(samples, n) for n in sorted(os.listdir(samples)) if n.endswith(".kap")]
chosen += [os.path.join(seeds, "header", n) for n in sorted(os.listdir(os.path.join(seeds, "header")))
           if n.startswith(("projection", "skew", "arc"))]
if os.path.isdir(charts):
    chosen += [os.path.join(charts, n) for n in sorted(os.listdir(charts)) if n.endswith(".KAP")]
else:
    print(f"real charts not found in {charts}: checking the samples and written charts only")
for chart in chosen:
    check_chart(chart)
for p in problems:
    print(p)
print(f"{len(chosen)} charts, {len(problems)} problems")
sys.exit(1 if problems else 0)
