#!/usr/bin/env python3
"""GDAL sees what nvch-host writes fit together, as charts loaded side by
side in a GIS must: the corners a skewed chart gains when it is turned
upright show nothing (counted here from the turn's definition), --clip
hides what lies outside the outline (rasterised here from the outline by
its own pixel centres), a night palette is the header's, a PNG is
transparent where the GeoTIFF has no data, and the catalog of a folder is
read by GDAL's vector reader with each footprint where it was written;
the tile set of a folder is read by GDAL's MBTiles reader with each
quadrant of a chart in its colour where it lies.

    gdal_layers.py NVCH_HOST WRITE_TEST_CHARTS SAMPLES CHARTS WORKDIR

Exits 77 (skipped) when GDAL's Python bindings are missing.
"""
import math
import os
import re
import subprocess
import sys

try:
    import numpy as np
    from osgeo import gdal, ogr
except ImportError:
    print("GDAL's Python bindings (python3-gdal) are missing: skipped")
    sys.exit(77)

gdal.UseExceptions()
host, write_charts, samples, charts, work = sys.argv[1:6]
os.makedirs(work, exist_ok=True)
written = os.path.join(work, "charts")
subprocess.run([write_charts, written], check=True)
problems = []
RADIANS = 0.017453292519943295
GRS80_A, GRS80_B = 6378137.0, 6356752.31414036
E = math.sqrt(1 - (GRS80_B / GRS80_A) ** 2)


def run(*args):
    return subprocess.run([host, *args], capture_output=True, text=True)


def expect(what, condition, detail=""):
    if not condition:
        problems.append(f"{what} {detail}".strip())


def header_of(path):
    text = open(path, "rb").read().split(b"\x1a")[0].decode("latin-1")
    records = []
    for line in text.splitlines():
        if line.startswith("    ") and records:
            records[-1] += "," + line[4:]
        elif line and not line.startswith("!"):
            records.append(line)
    return records


def field(records, name, key):
    for r in records:
        if r.startswith(name + "/"):
            for f in r[4:].split(","):
                if f.startswith(key + "="):
                    return f[len(key) + 1:]
    return None


def shown(path):
    ds = gdal.Open(path)
    mask = ds.GetRasterBand(1).GetMaskBand().ReadAsArray()
    return ds, mask != 0


# --- skewed charts: the corners outside the stored image show nothing ---

def turned_area(path):
    """Upright pixels whose turn lands inside the stored image, counted by
    the definition: (trunc(a c - b s), trunc(b c + a s)), a = min_x + i,
    b = min_y + r, each product a double of its own."""
    records = header_of(path)
    w, h = (int(v) for v in re.search(r"RA=(\d+),(\d+)", ",".join(records)).groups())
    t = float(field(records, "KNP", "SK")) * RADIANS
    s, c, fs, fc = math.sin(t), math.cos(t), math.sin(-t), math.cos(-t)
    xs, ys = [0], [0]
    for x, y in ((w, 0), (w, h), (0, h)):
        xs.append(math.trunc(x * fc - y * fs))
        ys.append(math.trunc(y * fc + x * fs))
    min_x, min_y, width, height = min(xs), min(ys), max(xs) - min(xs), max(ys) - min(ys)
    a = np.arange(width, dtype=np.float64) + min_x
    ac, as_ = a * c, a * s
    inside = np.zeros((height, width), dtype=bool)
    for r in range(height):
        b = float(min_y + r)
        x = np.trunc(ac - b * s)
        y = np.trunc(b * c + as_)
        inside[r] = (x >= 0) & (x < w) & (y >= 0) & (y < h)
    return inside


skewed = [os.path.join(samples, "harbour_skewed.kap"), os.path.join(written, "skewed_outline.kap")]
if os.path.isdir(charts):
    skewed += [os.path.join(charts, n) for n in ("12205_7.KAP", "12205_12.KAP", "14771_1.KAP")]
for chart in skewed:
    name = os.path.basename(chart)
    tif = os.path.join(work, name + ".tif")
    r = run("convert", chart, tif, "--force")
    expect(f"{name}: convert", r.returncode == 0, r.stderr)
    ds, mask = shown(tif)
    inside = turned_area(chart)
    expect(f"{name}: GeoTIFF size", mask.shape == inside.shape, f"{mask.shape} {inside.shape}")
    if mask.shape == inside.shape:
        expect(f"{name}: the upper-left corner", not mask[0, 0])
        expect(f"{name}: the centre", mask[mask.shape[0] // 2, mask.shape[1] // 2])
        expect(f"{name}: pixels shown", int(mask.sum()) == int(inside.sum()),
               f"{int(mask.sum())}, the stored image turned covers {int(inside.sum())}")
        expect(f"{name}: where", bool((mask == inside).all()))
    expect(f"{name}: no-data value", ds.GetRasterBand(1).GetNoDataValue() == 255)
    overview = ds.GetRasterBand(1).GetOverview(0)
    if overview is not None:
        omask = overview.GetMaskBand().ReadAsArray() != 0
        expect(f"{name}: overview corner", not omask[0, 0])
        expect(f"{name}: overview shows a quarter as many", abs(int(omask.sum()) * 4 - int(mask.sum())) < mask.sum() * 0.02)
    ds = None
    print(f"{name}: {int(mask.sum())} pixels shown of {mask.size}, as the turn covers")

# --- --clip: the outline, rasterised here by pixel centres ---

def mercator_y(lat):
    p = lat * RADIANS
    es = E * math.sin(p)
    return GRS80_A * math.log(math.tan(math.pi / 4 + p / 2) * ((1 - es) / (1 + es)) ** (E / 2))


def inside_polygon(polygon, width, height):
    """Pixels whose centres lie inside the polygon (even-odd)."""
    cx = np.arange(width) + 0.5
    inside = np.zeros((height, width), dtype=bool)
    for row in range(height):
        cy = row + 0.5
        crossings = []
        for (x0, y0), (x1, y1) in zip(polygon, polygon[1:] + polygon[:1]):
            if (y0 <= cy) != (y1 <= cy):
                crossings.append(x0 + (cy - y0) * (x1 - x0) / (y1 - y0))
        crossings.sort()
        for a, b in zip(crossings[0::2], crossings[1::2]):
            inside[row] |= (cx >= a) & (cx < b)
    return inside


def outline_of(path):
    return [(float(lat), float(lon)) for _, lat, lon in
            (r[4:].split(",")[:3] for r in header_of(path) if r.startswith("PLY/"))]


# The written chart: its reference points are its corners, so its pixels
# are linear in longitude and in Mercator y.
outline_chart = os.path.join(written, "outline.kap")
y_top, y_bottom = mercator_y(50.01), mercator_y(49.99)
polygon = [((lon + 1.01) / 0.02 * 599, (y_top - mercator_y(lat)) / (y_top - y_bottom) * 399)
           for lat, lon in outline_of(outline_chart)]
tif = os.path.join(work, "outline.clipped.tif")
r = run("convert", outline_chart, tif, "--clip", "--force")
expect("outline.kap: convert --clip", r.returncode == 0 and r.stderr == "", r.stderr)
_, mask = shown(tif)
expected = inside_polygon(polygon, 600, 400)
expect("outline.kap: clipped to its outline", bool((mask == expected).all()),
       f"{int((mask != expected).sum())} pixels differ")
print(f"outline.kap: {int(mask.sum())} pixels inside its outline")

r = run("convert", os.path.join(written, "no_outline.kap"), os.path.join(work, "no_outline.tif"), "--clip", "--force")
expect("no_outline.kap: convert --clip", r.returncode == 0 and r.stderr ==
       f"nvch-host: {os.path.join(written, 'no_outline.kap')} has no outline (no PLY records): its whole image is kept\n",
       repr(r.stderr))

if os.path.isdir(charts):
    # A real Mercator chart, placed by the reference map information.
    chart = os.path.join(charts, "11361_2.KAP")
    ulx, uly, psx, psy = -9959235.031, 3346996.492, 4.576367, 4.575701
    polygon = [((GRS80_A * lon * RADIANS - ulx) / psx, (uly - mercator_y(lat)) / psy) for lat, lon in outline_of(chart)]
    tif = os.path.join(work, "11361_2.clipped.tif")
    r = run("convert", chart, tif, "--clip", "--force")
    _, mask = shown(tif)
    area = abs(sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(polygon, polygon[1:] + polygon[:1]))) / 2
    perimeter = sum(math.hypot(x1 - x0, y1 - y0) for (x0, y0), (x1, y1) in zip(polygon, polygon[1:] + polygon[:1]))
    expect("11361_2.KAP: clipped to its outline's area", abs(int(mask.sum()) - area) <= perimeter,
           f"{int(mask.sum())} pixels shown, the outline covers {area:.0f} (perimeter {perimeter:.0f})")
    print(f"11361_2.KAP: {int(mask.sum())} pixels inside its outline, whose area is {area:.0f}")

# --- palettes ---

def palette_of(records, name):
    entries = {}
    for r in records:
        if r.startswith(name + "/"):
            i, red, green, blue = (int(v) for v in r[4:].split(",")[:4])
            entries[i] = (red, green, blue)
    return entries


palette_charts = [outline_chart] + ([os.path.join(charts, "14771_1.KAP")] if os.path.isdir(charts) else [])
for chart in palette_charts:
    name = os.path.basename(chart)
    records = header_of(chart)
    for palette in ("NGT", "DAY", "DSK", "NGR", "GRY", "PRC", "PRG"):
        entries = palette_of(records, palette)
        tif = os.path.join(work, f"{name}.{palette}.tif")
        r = run("convert", chart, tif, "--palette", palette, "--force")
        if not entries:
            listed = ", ".join(p for p in ("RGB", "DAY", "DSK", "NGT", "NGR", "GRY", "PRC", "PRG")
                               if p == "RGB" or palette_of(records, p))
            expect(f"{name}: --palette {palette} refused", r.returncode == 1 and r.stderr ==
                   f"nvch-host: {chart} has no palette {palette}; it has {listed}\n", repr(r.stderr))
            continue
        expect(f"{name}: --palette {palette}", r.returncode == 0, r.stderr)
        ds = gdal.Open(tif)   # kept while its colour table is read
        table = ds.GetRasterBand(1).GetColorTable()
        for i in range(17):
            want = entries.get(i, (0, 0, 0))
            expect(f"{name}: {palette} entry {i}", table.GetColorEntry(i)[:3] == want,
                   f"{table.GetColorEntry(i)[:3]} in the GeoTIFF, {want} in the header")
    print(f"{name}: palettes checked")

# --- PNGs: transparent where the GeoTIFF has no data ---

for chart in (os.path.join(samples, "harbour_skewed.kap"), os.path.join(written, "skewed_outline.kap")):
    name = os.path.basename(chart)
    png = os.path.join(work, name + ".png")
    r = run("render", chart, png, "--clip")
    expect(f"{name}: render --clip", r.returncode == 0, r.stderr)
    ds = gdal.Open(png)
    band = ds.GetRasterBand(1)
    expect(f"{name}: PNG transparent entry", band.GetColorTable().GetColorEntry(255)[3] == 0)
    tif = os.path.join(work, name + ".clipped.tif")
    run("convert", chart, tif, "--clip", "--force")
    _, tif_mask = shown(tif)
    png_mask = band.GetMaskBand().ReadAsArray() != 0
    expect(f"{name}: PNG shows what the GeoTIFF shows", bool((png_mask == tif_mask).all()))
    expect(f"{name}: something is hidden", int((~png_mask).sum()) > 0)

# --- the catalog of a folder ---

catalog = os.path.join(work, "catalog.geojson")
r = run("catalog", written, catalog)
expect("catalog", r.returncode == 0 and re.fullmatch(
    r"catalogued 5, not charts 0, skipped 0, failed 0 in [0-9.]+ s\n", r.stdout) is not None, r.stdout + r.stderr)
source = ogr.Open(catalog)
layer = source.GetLayer(0)
features = {f.GetField("file"): f for f in layer}
expect("catalog: features", sorted(features) == ["dateline.kap", "no_outline.kap", "outline.kap", "quadrants.kap",
                                                  "skewed_outline.kap"], str(sorted(features)))
for name, f in features.items():
    g = f.GetGeometryRef()
    expect(f"catalog: {name} geometry valid", g is not None and g.IsValid())
    expect(f"catalog: {name} scale", f.GetField("scale") == 20000)
    expect(f"catalog: {name} name", f.GetField("name") == "TEST HARBOUR")
    expect(f"catalog: {name} size", f.GetField("width") > 0 and f.GetField("height") > 0)
outline = features["outline.kap"].GetGeometryRef()
ring = outline.GetGeometryRef(0)
points = sorted((round(ring.GetX(k), 9), round(ring.GetY(k), 9)) for k in range(ring.GetPointCount() - 1))
expect("catalog: outline.kap is its outline", points == sorted((lon, lat) for lat, lon in outline_of(outline_chart)),
       str(points))
expect("catalog: outline.kap counterclockwise", ogr.CreateGeometryFromJson(outline.ExportToJson()).GetArea() > 0)
across = features["dateline.kap"].GetGeometryRef()
expect("catalog: dateline.kap split in two", across.GetGeometryName() == "MULTIPOLYGON" and across.GetGeometryCount() == 2,
       across.ExportToWkt())
if across.GetGeometryCount() == 2:
    sides = sorted(p.GetEnvelope()[0:2] for p in (across.GetGeometryRef(0), across.GetGeometryRef(1)))
    expect("catalog: dateline.kap either side", abs(sides[0][0] + 180) < 1e-9 and abs(sides[0][1] + 179.992) < 1e-6 and
           abs(sides[1][0] - 179.992) < 1e-6 and abs(sides[1][1] - 180) < 1e-9, str(sides))
corners = features["no_outline.kap"].GetGeometryRef().GetGeometryRef(0)
expect("catalog: no_outline.kap is its image's corners", corners.GetPointCount() == 5)
source = None
if os.path.isdir(charts):
    r = run("catalog", charts, "-")
    collection = ogr.Open(r.stdout)   # kept while its layer is read
    expect("catalog of the real charts", r.returncode == 0 and collection.GetLayer(0).GetFeatureCount() == 5,
           r.stderr)
    print(r.stderr.strip())

# --- the tile set of a folder, read by GDAL's MBTiles reader ---

from osgeo import osr  # noqa: E402

tile_folder = os.path.join(work, "tiles_in")
os.makedirs(tile_folder, exist_ok=True)
quadrants = os.path.join(written, "quadrants.kap")
linked = os.path.join(tile_folder, "quadrants.kap")
if not os.path.lexists(linked):
    os.symlink(quadrants, linked)
mbtiles = os.path.join(work, "quadrants.mbtiles")
r = run("tiles", tile_folder, mbtiles, "--force")
expect("tiles", r.returncode == 0 and re.fullmatch(
    r"tiled 1, not charts 0, skipped 0, failed 0: [0-9]+ tiles, zoom 11-15, in [0-9.]+ s\n", r.stdout) is not None,
    r.stdout + r.stderr)
ds = gdal.Open(mbtiles)
expect("tiles: GDAL's MBTiles reader", ds.GetDriver().ShortName == "MBTiles", ds.GetDriver().ShortName)
records = header_of(quadrants)
colours = {int(rec[4:].split(",")[0]): tuple(int(v) for v in rec[4:].split(",")[1:4])
           for rec in records if rec.startswith("RGB/")}
refs = [tuple(float(v) for v in rec[4:].split(",")[1:5]) for rec in records if rec.startswith("REF/")]
# Chart pixel positions to degrees along the reference points: longitude
# linear in x, latitude linear in Mercator y.
(x0, y0, lat0, lon0), (x1, _, _, lon1), (_, y2, lat2, _) = refs[0], refs[1], refs[2]
wgs84, web = osr.SpatialReference(osr.SRS_WKT_WGS84_LAT_LONG), osr.SpatialReference(ds.GetProjection())
for srs in (wgs84, web):
    srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)   # longitude first
to_merc = osr.CoordinateTransformation(wgs84, web)
geo = ds.GetGeoTransform()
for value, (px, py) in {1: (150, 100), 2: (450, 100), 3: (150, 300), 4: (450, 300)}.items():
    lon = lon0 + (px - x0) * (lon1 - lon0) / (x1 - x0)
    m0, m2 = mercator_y(lat0), mercator_y(lat2)
    m = m0 + (py - y0) * (m2 - m0) / (y2 - y0)
    lat = lat0 + (lat2 - lat0) * (m - m0) / (m2 - m0)   # near enough over 0.02 degrees
    mx, my, _ = to_merc.TransformPoint(lon, lat)
    col, row = int((mx - geo[0]) / geo[1]), int((my - geo[3]) / geo[5])
    rgba = tuple(int(ds.GetRasterBand(b).ReadAsArray(col, row, 1, 1)[0, 0]) for b in range(1, 5))
    expect(f"tiles: quadrant {value} at {lat:.5f} {lon:.5f}", rgba == colours[value] + (255,), f"{rgba}")
corner_lon, corner_lat = lon0 - 0.005, lat0 + 0.005   # beyond the chart's corner: nothing
mx, my, _ = to_merc.TransformPoint(corner_lon, corner_lat)
col, row = int((mx - geo[0]) / geo[1]), int((my - geo[3]) / geo[5])
if 0 <= col < ds.RasterXSize and 0 <= row < ds.RasterYSize:
    expect("tiles: nothing beyond the chart", int(ds.GetRasterBand(4).ReadAsArray(col, row, 1, 1)[0, 0]) == 0)
ds = None

for p in problems:
    print(p)
print(f"{len(problems)} problems")
sys.exit(1 if problems else 0)
