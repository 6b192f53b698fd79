#include "output/Report.h"

#include "files/AtomicFile.h"
#include "base/Format.h"
#include "output/JpegWriter.h"
#include "base/Parallel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

// Around each section of a page. Nothing else of a page is an HTML comment, and the
// text of a section holds none: every name in it is escaped.
constexpr std::string_view kSectionBegin = "<!-- pose section -->\n";
constexpr std::string_view kSectionEnd = "<!-- end of pose section -->\n";

constexpr int kJpegQuality = 85;
// Poses narrower than this are shown magnified by a whole factor.
constexpr std::int32_t kShownMin = 800;

// The colours of the marks. A point takes the first of unrefined, neighbour, border
// that its flags hold; Plain marks every point of a pose without refinement.
enum TMarkClass : std::uint8_t { kMarkOk, kMarkBorder, kMarkNeighbour, kMarkUnrefined, kMarkPlain };
constexpr int kMarkClasses = 5;
// Added to the class of a point of one or two pixels, drawn as a square.
constexpr std::uint8_t kMarkSmall = 8;

struct TMarkStyle {
    const char* Name;
    const char* Colour;
    const char* Meaning;
};
constexpr std::array<TMarkStyle, kMarkClasses> kMarkStyles = {{
    {"ok", "#38d178", "refined, no flag"},
    {"border", "#4aa3ff", "its window is cut by the picture border"},
    {"neighbour", "#ffb020", "another point's main blob lies inside its window"},
    {"unrefined", "#ff4f6e", "no refinement possible: the plain centre is kept"},
    {"points", "#3fd4e6", "plain centres (not refined)"},
}};

std::uint8_t MarkClass(std::uint32_t flags) {
    if (flags & kRefineNone)
        return kMarkUnrefined;
    if (flags & kRefineNeighbour)
        return kMarkNeighbour;
    if (flags & kRefineBorder)
        return kMarkBorder;
    return kMarkOk;
}

bool IsSmall(const TUniquePoint& point) {
    return point.PixelCount <= 2;
}

// The length of the UTF-8 sequence text[at …], or 0 when it is none (overlong forms,
// surrogates and values above U+10FFFF are none).
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    unsigned low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else
        return 0;
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return length;
}

std::string Number(std::int64_t value) {
    return std::to_string(value);
}

// A coordinate of a plot, to a tenth of a pixel.
std::string Px(double value) {
    return FormatFixed(value, value == std::floor(value) ? 0 : 1);
}

// A value of a histogram's axis: whole numbers bare, others with the decimals of step.
std::string AxisValue(double value, double step, bool whole) {
    if (whole)
        return Number(std::llround(value));
    int decimals = 0;
    for (double scaled = step; decimals < 3 && std::fabs(scaled - std::round(scaled)) > 1e-9;
         scaled *= 10)
        ++decimals;
    return FormatFixed(value, decimals);
}

// The smallest of 1, 2, 2.5, 5 times a power of ten that is at least least; a whole
// number when whole.
double NiceStep(double least, bool whole) {
    if (!(least > 0))
        return whole ? 1 : 0.01;
    double power = std::pow(10.0, std::floor(std::log10(least)));
    for (;;) {
        for (double factor : {1.0, 2.0, 2.5, 5.0}) {
            const double step = factor * power;
            if (whole && (step < 1 || step != std::floor(step)))
                continue;
            if (step >= least * (1 - 1e-12))
                return step;
        }
        power *= 10;
    }
}

struct THistogram {
    std::string Title;          // above the plot
    std::string Axis;           // below the x axis
    std::string Unit;           // after a range in a bar's tooltip
    std::vector<double> Values; // none negative
    bool Whole = true;          // whole numbers
    double Top = -1;            // ≥ 0: the range always reaches this value
};

constexpr int kMaxBins = 32;

// A histogram as an inline SVG plot: bars of counts, with the bars' ranges and counts as
// tooltips, the range of the values below and the highest count beside.
std::string HistogramSvg(THistogram histogram) {
    constexpr double kWidth = 300, kHeight = 178;
    constexpr double kLeft = 44, kRight = 292, kTop = 30, kBottom = 142;
    std::string svg;
    svg += "<svg class=\"plot\" width=\"300\" height=\"178\" viewBox=\"0 0 300 178\" role=\"img\" "
           "aria-label=\"";
    svg += EscapeHtml(histogram.Title);
    svg += "\"><text class=\"title\" x=\"0\" y=\"14\">";
    svg += EscapeHtml(histogram.Title);
    svg += "</text>";
    std::vector<double>& values = histogram.Values;
    std::erase_if(values, [](double v) { return !std::isfinite(v); });
    const auto axisLine = [&] {
        svg += "<line class=\"axis\" x1=\"" + Px(kLeft) + "\" y1=\"" + Px(kBottom) + "\" x2=\"" +
               Px(kRight) + "\" y2=\"" + Px(kBottom) + "\"/>";
        svg += "<text class=\"label\" x=\"" + FormatFixed((kLeft + kRight) / 2, 0) + "\" y=\"" +
               Px(kHeight - 4) + "\" text-anchor=\"middle\">" + EscapeHtml(histogram.Axis) +
               "</text>";
    };
    if (values.empty()) {
        svg += "<text class=\"note\" x=\"" + FormatFixed((kLeft + kRight) / 2, 0) + "\" y=\"" +
               FormatFixed((kTop + kBottom) / 2, 0) + "\" text-anchor=\"middle\">no points</text>";
        axisLine();
        svg += "</svg>";
        return svg;
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const bool whole = histogram.Whole;
    // The range: up to the largest value, unless a few far ones would squeeze the rest
    // into a bar or two; those then go to one bar of their own at the right.
    const double highest = values.back();
    const double usual = values[static_cast<std::size_t>(std::floor(0.995 * double(n - 1)))];
    double cap = highest;
    if (highest > 1.5 * usual && !(whole && highest < kMaxBins))
        cap = usual;
    cap = std::max({cap, histogram.Top, whole ? 4.0 : 0.0});
    const double step = NiceStep(whole ? (cap + 1) / kMaxBins : cap / kMaxBins, whole);
    // Whole numbers: bin k holds k · step … (k + 1) · step − 1; others: k · step up to
    // (k + 1) · step, the last bin's end included.
    const int bins = whole ? static_cast<int>(std::floor(cap / step)) + 1
                           : std::max(1, static_cast<int>(std::ceil(cap / step - 1e-9)));
    const double end = bins * step; // the values beyond go to the extra bar
    const auto beyond = [&](double v) { return whole ? v >= end : v > end; };
    std::vector<std::size_t> counts(std::size_t(bins) + 1, 0);
    for (double v : values) {
        if (beyond(v))
            ++counts[std::size_t(bins)];
        else
            ++counts[std::min(std::size_t(bins) - 1, static_cast<std::size_t>(v / step))];
    }
    const bool extra = counts.back() > 0;
    if (!extra)
        counts.pop_back();
    const std::size_t most = *std::max_element(counts.begin(), counts.end());

    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    svg += "<text class=\"note\" x=\"" + Px(kWidth) + "\" y=\"14\" text-anchor=\"end\">median ";
    svg += whole && median == std::floor(median) ? Number(std::llround(median))
                                                 : FormatFixed(median, whole || step >= 1 ? 1 : 2);
    svg += " · " + Number(std::int64_t(n)) + (n == 1 ? " point" : " points") + "</text>";

    // The highest count and 0 on the y axis, with a faint line at the highest.
    svg += "<line class=\"grid\" x1=\"" + Px(kLeft) + "\" y1=\"" + Px(kTop) + "\" x2=\"" +
           Px(kRight) + "\" y2=\"" + Px(kTop) + "\"/>";
    svg += "<text class=\"label\" x=\"" + Px(kLeft - 5) + "\" y=\"" + Px(kTop + 4) +
           "\" text-anchor=\"end\">" + Number(std::int64_t(most)) + "</text>";
    svg += "<text class=\"label\" x=\"" + Px(kLeft - 5) + "\" y=\"" + Px(kBottom + 4) +
           "\" text-anchor=\"end\">0</text>";

    const double barWidth = (kRight - kLeft) / double(counts.size());
    for (std::size_t k = 0; k < counts.size(); ++k) {
        const double height = most ? (kBottom - kTop) * double(counts[k]) / double(most) : 0;
        const bool extraBar = k == std::size_t(bins);
        std::string range;
        if (extraBar)
            range = std::string(whole ? "≥ " : "> ") + AxisValue(end, step, whole);
        else if (whole && step == 1)
            range = AxisValue(double(k), step, whole);
        else
            range = AxisValue(double(k) * step, step, whole) + "–" +
                    AxisValue(whole ? double(k + 1) * step - 1 : double(k + 1) * step, step, whole);
        svg += "<rect class=\"";
        svg += extraBar ? "bar beyond" : "bar";
        svg += "\" x=\"" + FormatFixed(kLeft + double(k) * barWidth + 0.5, 2) + "\" y=\"" +
               FormatFixed(kBottom - height, 2) + "\" width=\"" +
               FormatFixed(std::max(0.5, barWidth - 1), 2) + "\" height=\"" +
               FormatFixed(height, 2) + "\"><title>" + EscapeHtml(range);
        if (!histogram.Unit.empty())
            svg += " " + EscapeHtml(histogram.Unit);
        svg += ": " + Number(std::int64_t(counts[k])) + "</title></rect>";
    }
    axisLine();
    // Ticks at the bins' edges: the first, the middle one and the last.
    const auto tick = [&](int edge) {
        const double x = kLeft + double(edge) * barWidth;
        svg += "<text class=\"label\" x=\"" + FormatFixed(x, 1) + "\" y=\"" + Px(kBottom + 14) +
               "\" text-anchor=\"middle\">" + AxisValue(double(edge) * step, step, whole) +
               "</text>";
    };
    tick(0);
    if (bins >= 4)
        tick(bins / 2);
    if (extra) // the bar of the values beyond, at the right
        svg += "<text class=\"label\" x=\"" + Px(kRight) + "\" y=\"" + Px(kBottom + 14) +
               "\" text-anchor=\"end\">" + std::string(whole ? "≥ " : "> ") +
               AxisValue(end, step, whole) + "</text>";
    else
        tick(bins);
    svg += "</svg>";
    return svg;
}

// The points' data for the script, 7 bytes a point, little-endian: the plain centre's
// column and row in units of 1 / unit pixel (16 bits each), the pixel count (16 bits,
// at most 65535) and the mark class.
std::vector<std::uint8_t> PackPoints(const TUniquePoints& points,
                                     const std::vector<TRefinedPoint>& refined, double unit) {
    std::vector<std::uint8_t> bytes(std::size_t(points.EntryCount) * 7);
    const auto put16 = [](std::uint8_t* at, double value) {
        const auto v = static_cast<std::uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
        at[0] = static_cast<std::uint8_t>(v & 0xFF);
        at[1] = static_cast<std::uint8_t>(v >> 8);
    };
    for (std::int32_t i = 0; i < points.EntryCount; ++i) {
        const TUniquePoint& point = points.Entries[std::size_t(i)];
        std::uint8_t* at = bytes.data() + std::size_t(i) * 7;
        put16(at, point.X * unit);
        put16(at + 2, point.Y * unit);
        put16(at + 4, double(point.PixelCount));
        std::uint8_t mark =
            refined.empty() ? std::uint8_t(kMarkPlain) : MarkClass(refined[std::size_t(i)].Flags);
        if (IsSmall(point))
            mark |= kMarkSmall;
        at[6] = mark;
    }
    return bytes;
}

// The finest unit, a power of two from 1/16 pixel on, at which every centre of a plane
// of this size fits 16 bits.
double CoordinateUnit(std::int32_t width, std::int32_t height) {
    const double largest = std::max({width, height, 1});
    double unit = 16;
    while (unit > 1.0 / 64 && largest * unit > 65535)
        unit /= 2;
    return unit;
}

std::string LegendItem(const char* shape, const char* colour, const std::string& name,
                       std::int64_t count, const std::string& meaning) {
    std::string item = "<li title=\"" + EscapeHtml(meaning) + "\"><span class=\"swatch " + shape +
                       "\" style=\"border-color:" + colour + "\"></span>" + EscapeHtml(name) +
                       " <b>" + Number(count) + "</b></li>";
    return item;
}

// The page's script: it decodes each section's picture, draws the marks over it and
// opens the magnified view; when done it sets the body's data-report.
std::string PageScript() {
    std::string colours = "[";
    for (std::size_t k = 0; k < kMarkStyles.size(); ++k)
        colours += std::string(k ? "," : "") + "\"" + kMarkStyles[k].Colour + "\"";
    colours += "]";
    std::string script = R"js(<script>
(function () {
  "use strict";
  var body = document.body, failed = false;
  function fail(message) {
    if (failed) return;
    failed = true;
    body.dataset.report = "error: " + message;
  }
  window.onerror = function (message) { fail(String(message)); };
  window.addEventListener("unhandledrejection", function (e) {
    fail(String(e.reason && e.reason.message || e.reason));
  });
  var COLOURS = @COLOURS@, SMALL = @SMALL@;
  // Classes in drawing order: unflagged marks first, flagged ones on top.
  var ORDER = [0, 4, 1, 2, 3];

  function pointsOf(section) {
    var text = atob(section.dataset.points || ""), n = Math.floor(text.length / 7);
    var unit = Number(section.dataset.unit) || 1;
    var p = {n: n, x: new Float32Array(n), y: new Float32Array(n), r: new Float32Array(n),
             c: new Uint8Array(n)};
    for (var i = 0; i < n; ++i) {
      var o = 7 * i;
      p.x[i] = (text.charCodeAt(o) | text.charCodeAt(o + 1) << 8) / unit;
      p.y[i] = (text.charCodeAt(o + 2) | text.charCodeAt(o + 3) << 8) / unit;
      p.r[i] = Math.sqrt((text.charCodeAt(o + 4) | text.charCodeAt(o + 5) << 8) / Math.PI);
      p.c[i] = text.charCodeAt(o + 6);
    }
    return p;
  }

  // Marks the points seen in a view: scale screen pixels a pixel of the stack, the view's
  // top left corner at (left, top) in the stack's pixel edges, width × height screen pixels.
  function drawMarks(ctx, p, scale, left, top, width, height, line) {
    ctx.lineWidth = line;
    var margin = 40;
    for (var k = 0; k < ORDER.length; ++k) {
      var mark = ORDER[k], any = false;
      ctx.beginPath();
      for (var i = 0; i < p.n; ++i) {
        if ((p.c[i] & 7) !== mark) continue;
        var x = (p.x[i] + 0.5 - left) * scale, y = (p.y[i] + 0.5 - top) * scale;
        if (x < -margin || y < -margin || x > width + margin || y > height + margin) continue;
        any = true;
        if (p.c[i] & SMALL) {
          var h = Math.max(2.5, 1.2 * scale + 1.5);
          ctx.rect(x - h, y - h, 2 * h, 2 * h);
        } else {
          var r = Math.max(2.5, p.r[i] * scale + 1.5);
          ctx.moveTo(x + r, y);
          ctx.arc(x, y, r, 0, 2 * Math.PI);
        }
      }
      if (!any) continue;
      ctx.strokeStyle = COLOURS[mark];
      ctx.stroke();
    }
  }

  var zoomLayer = null;
  function closeZoom() {
    if (zoomLayer) { zoomLayer.layer.remove(); zoomLayer = null; }
  }
  document.addEventListener("keydown", function (e) { if (e.key === "Escape") closeZoom(); });

  // The start of a view of view pixels on a picture of full pixels, around centre.
  function viewStart(centre, full, view) {
    if (view >= full) return (full - view) / 2;
    return Math.min(Math.max(centre - view / 2, 0), full - view);
  }

  // The magnified view: a layer over the page, the picture drawn at scale screen pixels
  // a pixel of the stack around (x, y), in the stack's pixel edges.
  function drawZoom() {
    var z = zoomLayer;
    if (!z) return;
    var step = Number(z.section.dataset.step) || 1;
    var fullW = z.img.naturalWidth * step, fullH = z.img.naturalHeight * step;
    var vw = z.layer.clientWidth, vh = z.layer.clientHeight, dpr = window.devicePixelRatio || 1;
    var left = viewStart(z.x, fullW, vw / z.scale), top = viewStart(z.y, fullH, vh / z.scale);
    z.canvas.width = Math.round(vw * dpr);
    z.canvas.height = Math.round(vh * dpr);
    z.canvas.style.width = vw + "px";
    z.canvas.style.height = vh + "px";
    var ctx = z.canvas.getContext("2d");
    ctx.imageSmoothingEnabled = false;
    ctx.setTransform(dpr * z.scale, 0, 0, dpr * z.scale, -left * dpr * z.scale,
                     -top * dpr * z.scale);
    ctx.drawImage(z.img, 0, 0, fullW, fullH);
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    drawMarks(ctx, z.p, z.scale, left, top, vw, vh, 2);
  }

  function openZoom(section, img, p, event) {
    closeZoom();
    var step = Number(section.dataset.step) || 1;
    var rect = img.getBoundingClientRect(), shown = rect.width / (img.naturalWidth * step);
    var scale = Math.max(1, 2 * shown);
    var layer = document.createElement("div");
    layer.className = "zoom";
    var canvas = document.createElement("canvas");
    layer.appendChild(canvas);
    var caption = document.createElement("div");
    caption.className = "zoom-caption";
    caption.textContent = section.dataset.pose + " \u00b7 " + (scale === 1 ? "full resolution" :
        "1 pixel = " + Math.round(scale * 10) / 10 + " screen pixels") +
        " \u00b7 Esc or a click closes";
    layer.appendChild(caption);
    layer.addEventListener("click", closeZoom);
    document.body.appendChild(layer);
    zoomLayer = {layer: layer, canvas: canvas, section: section, img: img, p: p, scale: scale,
                 x: (event.clientX - rect.left) / shown, y: (event.clientY - rect.top) / shown};
    drawZoom();
  }

  var redraws = [];
  function setUp(section) {
    var img = section.querySelector("img.lit");
    if (!img) return Promise.resolve(0);
    var canvas = section.querySelector("canvas.marks"), p = pointsOf(section);
    function draw() {
      var step = Number(section.dataset.step) || 1, dpr = window.devicePixelRatio || 1;
      var w = img.clientWidth, h = img.clientHeight;
      canvas.width = Math.round(w * dpr);
      canvas.height = Math.round(h * dpr);
      var ctx = canvas.getContext("2d");
      ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
      drawMarks(ctx, p, w / (img.naturalWidth * step), 0, 0, w, h, 1.25);
    }
    img.addEventListener("click", function (e) { openZoom(section, img, p, e); });
    return img.decode().then(function () {
      if (!(img.naturalWidth > 0)) throw new Error("empty picture");
      draw();
      redraws.push(draw);
      return 1;
    }).catch(function (e) {
      throw new Error("the picture of " + section.dataset.pose + " could not be decoded (" +
                      (e && e.message || e) + ")");
    });
  }

  var resizing = 0;
  window.addEventListener("resize", function () {
    clearTimeout(resizing);
    resizing = setTimeout(function () {
      redraws.forEach(function (f) { f(); });
      drawZoom();
    }, 150);
  });

  try {
    var sections = Array.prototype.slice.call(document.querySelectorAll("section.pose"));
    Promise.all(sections.map(setUp)).then(function (decoded) {
      var n = decoded.reduce(function (a, b) { return a + b; }, 0);
      if (!failed) body.dataset.report = "ready " + n;
    }, function (e) { fail(e && e.message || String(e)); });
  } catch (e) {
    fail(e && e.message || String(e));
  }
})();
</script>
)js";
    const auto replace = [&](std::string_view key, const std::string& value) {
        script.replace(script.find(key), key.size(), value);
    };
    replace("@COLOURS@", colours);
    replace("@SMALL@", Number(kMarkSmall));
    return script;
}

constexpr std::string_view kPageStyle = R"css(<style>
:root { --ink: #1d2630; --muted: #5d6977; --line: #e2e6eb; --page: #f5f6f8; --card: #ffffff; }
* { box-sizing: border-box; }
body { margin: 0; padding: 28px 36px 56px; background: var(--page); color: var(--ink);
  font: 14px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "Noto Sans", "DejaVu Sans",
  "Liberation Sans", Arial, sans-serif; }
h1 { font-size: 22px; font-weight: 600; margin: 0 0 4px; }
.meta { color: var(--muted); margin: 0 0 18px; }
.table-wrap { overflow-x: auto; }
table.summary { border-collapse: separate; border-spacing: 0; background: var(--card);
  border: 1px solid var(--line); border-radius: 8px; font-variant-numeric: tabular-nums; }
table.summary th, table.summary td { padding: 6px 14px; text-align: left; vertical-align: top;
  border-bottom: 1px solid var(--line); }
table.summary tr:last-child td { border-bottom: none; }
table.summary th { font-size: 11px; font-weight: 600; letter-spacing: .04em;
  text-transform: uppercase; color: var(--muted); }
table.summary td.num { text-align: right; white-space: nowrap; }
table.summary td.input { color: var(--muted); word-break: break-all; max-width: 28em; }
table.summary td.message { max-width: 36em; white-space: pre-wrap; word-break: break-word; }
table.summary tr.failed td { background: #fff8f7; }
table.summary a { color: inherit; text-decoration: none; border-bottom: 1px dotted #9aa5b1; }
.status { display: inline-block; padding: 0 9px; border-radius: 10px; font-size: 12px;
  font-weight: 600; }
.status.ok { background: #e2f3e7; color: #1e7340; }
.status.kept { background: #eceef1; color: #5d6977; }
.status.failed { background: #fbe3e1; color: #b3261e; }
section.pose { background: var(--card); border: 1px solid var(--line); border-radius: 10px;
  padding: 16px 20px 18px; margin: 26px 0; width: fit-content; max-width: 100%; }
section.pose h2 { font-size: 18px; font-weight: 600; margin: 0; word-break: break-word; }
section.pose .facts { color: var(--muted); margin: 2px 0 12px; font-variant-numeric: tabular-nums; }
section.pose .facts b { color: var(--ink); font-weight: 600; }
figure.pic { position: relative; margin: 0; max-width: 100%; background: #111; cursor: zoom-in;
  line-height: 0; }
figure.pic img { display: block; width: 100%; height: auto; }
figure.pic img.magnified { image-rendering: pixelated; }
figure.pic canvas { position: absolute; left: 0; top: 0; width: 100%; height: 100%;
  pointer-events: none; }
.hint { color: var(--muted); font-size: 12px; margin: 6px 0 0; }
ul.legend { list-style: none; display: flex; flex-wrap: wrap; gap: 6px 20px; padding: 0;
  margin: 10px 0 14px; font-variant-numeric: tabular-nums; }
ul.legend li { display: flex; align-items: center; gap: 6px; }
ul.legend b { font-weight: 600; }
.swatch { display: inline-block; width: 13px; height: 13px; border: 2.5px solid;
  background: #2a2f36; }
.swatch.ring { border-radius: 50%; }
.plots { display: flex; flex-wrap: wrap; gap: 14px 26px; }
svg.plot { font-size: 11px; fill: var(--muted); overflow: visible; }
svg.plot .title { font-size: 12px; font-weight: 600; fill: var(--ink); }
svg.plot .bar { fill: #7f9bb8; }
svg.plot .bar.beyond { fill: #c89160; }
svg.plot .bar:hover { fill: #4f7398; }
svg.plot .axis { stroke: #9aa5b1; stroke-width: 1; }
svg.plot .grid { stroke: #e7eaee; stroke-width: 1; }
.zoom { position: fixed; inset: 0; z-index: 10; background: #000; cursor: zoom-out; }
.zoom canvas { display: block; }
.zoom-caption { position: fixed; left: 12px; top: 10px; padding: 4px 10px; border-radius: 6px;
  background: rgba(0, 0, 0, .65); color: #f1f3f5; font-size: 13px; line-height: 1.4; }
</style>
)css";

std::string SummaryTable(const std::vector<TReportRow>& rows) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Status == "failed")
            order.push_back(i);
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Status != "failed")
            order.push_back(i);
    const auto known = [](std::int64_t value) {
        return value < 0 ? std::string("–") : Number(value);
    };
    std::string table = "<div class=\"table-wrap\"><table class=\"summary\">\n<thead><tr>"
                        "<th>pose</th><th>input</th><th>status</th><th>points</th>"
                        "<th>flagged</th><th>mindif</th><th>tolerance</th><th>seconds</th>"
                        "<th>message</th></tr></thead>\n<tbody>\n";
    for (std::size_t i : order) {
        const TReportRow& row = rows[i];
        const bool failed = row.Status == "failed";
        const std::string status = EscapeHtml(row.Status);
        table += "<tr class=\"" + status + "\"><td class=\"pose\">";
        if (failed)
            table += EscapeHtml(row.Pose);
        else
            table += "<a href=\"#pose-" + Number(std::int64_t(i)) + "\">" + EscapeHtml(row.Pose) +
                     "</a>";
        table += "</td><td class=\"input\">" + EscapeHtml(row.Input) + "</td>";
        table += "<td><span class=\"status " + status + "\">" + status + "</span></td>";
        table += "<td class=\"num\">" + (failed ? std::string("–") : Number(row.Points)) + "</td>";
        table += "<td class=\"num\">" + known(row.Flagged) + "</td>";
        table += "<td class=\"num\">" + known(row.MinDif) + "</td>";
        table += "<td class=\"num\">" + known(row.Tolerance) + "</td>";
        table += "<td class=\"num\">" + FormatFixed(row.Seconds, 2) + "</td>";
        table += "<td class=\"message\">" + EscapeHtml(row.Message) + "</td></tr>\n";
    }
    table += "</tbody></table></div>\n";
    return table;
}

} // namespace

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD"; // U+FFFD
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '\t':
        case '\n':
            out += char(c);
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                out += "\xEF\xBF\xBD";
            else
                out += char(c);
        }
        ++i;
    }
    return out;
}

std::string Base64Text(const void* data, std::size_t size) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::string out((size + 2) / 3 * 4, '=');
    char* to = out.data();
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3, to += 4) {
        const std::uint32_t v =
            std::uint32_t(bytes[i]) << 16 | std::uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        to[0] = kDigits[v >> 18];
        to[1] = kDigits[(v >> 12) & 63];
        to[2] = kDigits[(v >> 6) & 63];
        to[3] = kDigits[v & 63];
    }
    if (i < size) {
        std::uint32_t v = std::uint32_t(bytes[i]) << 16;
        if (i + 1 < size)
            v |= std::uint32_t(bytes[i + 1]) << 8;
        to[0] = kDigits[v >> 18];
        to[1] = kDigits[(v >> 12) & 63];
        if (i + 1 < size)
            to[2] = kDigits[(v >> 6) & 63];
    }
    return out;
}

std::int32_t ReportPictureStep(std::int32_t width, std::int32_t height) {
    const std::int32_t side = std::max({width, height, std::int32_t(1)});
    return (side + kReportPictureMax - 1) / kReportPictureMax;
}

namespace {

// Means of the squares of one row of the scaled plane that the right border does not
// cut, from the sums of the plane's columns over the square's rows: ⌊(sum + count / 2) /
// count⌋. For a small Step it is taken in float with a margin of 1 / (4 count), which
// is larger than the float's error and smaller than the distance of any other quotient
// from a whole number, so it stays exact.
template <std::int32_t Step>
void MeanRow(const std::uint32_t* column, std::int32_t cols, std::uint32_t count,
             std::uint8_t* target) {
    static_assert(Step >= 2 && Step <= 4);
    const float scale = 1.0f / float(count);
    const float offset = float(count / 2) * scale + 0.25f * scale;
    for (std::int32_t col = 0; col < cols; ++col) {
        const std::uint32_t* at = column + std::size_t(col) * Step;
        std::uint32_t sum = 0;
        for (std::int32_t k = 0; k < Step; ++k)
            sum += at[k];
        target[col] = static_cast<std::uint8_t>(float(sum) * scale + offset);
    }
}

// The mean of the cols columns from column on, over rows rows.
std::uint8_t SquareMean(const std::uint32_t* column, std::int32_t cols, std::int32_t rows) {
    const std::uint64_t count = std::uint64_t(cols) * std::uint64_t(rows);
    std::uint64_t sum = count / 2;
    for (std::int32_t k = 0; k < cols; ++k)
        sum += column[k];
    return static_cast<std::uint8_t>(sum / count);
}

} // namespace

TPic ScalePlaneDown(const TPic& plane, std::int32_t step, int threads) {
    if (step < 1)
        throw std::invalid_argument("a plane cannot be scaled down by " + std::to_string(step));
    TPic out;
    out.SetSize((plane.Width + step - 1) / step, (plane.Height + step - 1) / step);
    if (out.Width == 0 || out.Height == 0)
        return out;
    if (step == 1) {
        std::memcpy(out.Data.data(), plane.Data.data(), plane.Data.size());
        return out;
    }
    const std::int32_t fullCols = plane.Width / step; // squares not cut by the right border
    const int useThreads = ThreadsFor(threads);
    const int bands = std::min(out.Height, useThreads * 4);
    ForEachBand(out.Height, bands, useThreads, [&](int, std::int32_t begin, std::int32_t end) {
        std::vector<std::uint32_t> sums(std::size_t(plane.Width));
        std::uint32_t* column = sums.data();
        for (std::int32_t row = begin; row < end; ++row) {
            const std::int32_t first = row * step;
            const std::int32_t rows = std::min(step, plane.Height - first);
            const std::uint8_t* source = plane.Data[first];
            for (std::int32_t col = 0; col < plane.Width; ++col)
                column[col] = source[col];
            for (std::int32_t k = 1; k < rows; ++k) {
                source = plane.Data[first + k];
                for (std::int32_t col = 0; col < plane.Width; ++col)
                    column[col] += source[col];
            }
            std::uint8_t* target = out.Data[row];
            const auto count = std::uint32_t(rows * step);
            switch (step) {
            case 2:
                MeanRow<2>(column, fullCols, count, target);
                break;
            case 3:
                MeanRow<3>(column, fullCols, count, target);
                break;
            case 4:
                MeanRow<4>(column, fullCols, count, target);
                break;
            default:
                for (std::int32_t col = 0; col < fullCols; ++col)
                    target[col] =
                        SquareMean(column + std::size_t(col) * std::size_t(step), step, rows);
            }
            if (fullCols < out.Width) // the square cut by the right border
                target[fullCols] = SquareMean(column + std::size_t(fullCols) * std::size_t(step),
                                              plane.Width - fullCols * step, rows);
        }
    });
    return out;
}

std::string ReportSection(const std::string& pose, const TPic& lit, const TUniquePoints& points,
                          const std::vector<TRefinedPoint>& refined, int threads) {
    const std::int32_t count = std::max(points.EntryCount, std::int32_t(0));
    if (!refined.empty() && refined.size() != std::size_t(count))
        throw std::invalid_argument("the report of " + pose + " has " +
                                    std::to_string(refined.size()) + " refined points for " +
                                    std::to_string(count) + " points");
    const std::string name = EscapeHtml(pose);

    std::array<std::int64_t, kMarkClasses> marks{};
    std::int64_t small = 0, flagged = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t at = std::size_t(i);
        if (refined.empty())
            ++marks[kMarkPlain];
        else {
            ++marks[MarkClass(refined[at].Flags)];
            flagged += refined[at].Flags != 0;
        }
        small += IsSmall(points.Entries[at]);
    }

    const std::int32_t step = ReportPictureStep(lit.Width, lit.Height);
    const double unit = CoordinateUnit(lit.Width, lit.Height);
    const std::vector<std::uint8_t> packed = PackPoints(points, refined, unit);

    std::string html;
    html += "<section class=\"pose\" data-pose=\"" + name + "\" data-width=\"" + Number(lit.Width) +
            "\" data-height=\"" + Number(lit.Height) + "\" data-step=\"" + Number(step) +
            "\" data-unit=\"" + FormatFixed(unit, 6) + "\" data-points=\"";
    html += Base64Text(packed.data(), packed.size());
    html += "\">\n<h2>" + name + "</h2>\n<p class=\"facts\"><b>" + Number(count) + "</b> " +
            (count == 1 ? "point" : "points") + " · ";
    if (refined.empty())
        html += "not refined";
    else
        html += "<b>" + Number(flagged) + "</b> flagged";
    html += " · <b>" + Number(small) + "</b> of 1–2 pixels · " + Number(lit.Width) + " × " +
            Number(lit.Height) + " pixels</p>\n";

    if (lit.Width > 0 && lit.Height > 0) {
        const TPic picture = ScalePlaneDown(lit, step, threads);
        TJpegWriteOptions options;
        options.Quality = kJpegQuality;
        const std::vector<std::uint8_t> jpeg =
            EncodeJpeg(picture.Width, picture.Height, 1, picture.Data.data(), options);
        std::int32_t shown = std::min(lit.Width, kReportShownMax);
        if (lit.Width < kShownMin)
            shown = lit.Width * std::max(1, kShownMin / lit.Width);
        html += "<figure class=\"pic\" style=\"width:" + Number(shown) + "px\"><img class=\"lit";
        if (shown > picture.Width)
            html += " magnified";
        html += "\" width=\"" + Number(picture.Width) + "\" height=\"" + Number(picture.Height) +
                "\" alt=\"Picture 2 (all dots lit) of " + name + "\" src=\"data:image/jpeg;base64,";
        html += Base64Text(jpeg.data(), jpeg.size());
        html += "\"><canvas class=\"marks\"></canvas></figure>\n<p class=\"hint\">Picture 2, all "
                "dots lit";
        if (step > 1)
            html += ", at 1:" + Number(step);
        html += ". Click it for a closer look.</p>\n";
    } else
        html += "<p class=\"hint\">No picture.</p>\n";

    html += "<ul class=\"legend\">";
    const auto& styles = kMarkStyles;
    if (refined.empty())
        html += LegendItem("ring", styles[kMarkPlain].Colour, styles[kMarkPlain].Name,
                           marks[kMarkPlain], styles[kMarkPlain].Meaning);
    else
        for (int k : {kMarkOk, kMarkBorder, kMarkNeighbour, kMarkUnrefined})
            html += LegendItem("ring", styles[std::size_t(k)].Colour, styles[std::size_t(k)].Name,
                               marks[std::size_t(k)], styles[std::size_t(k)].Meaning);
    html += LegendItem("square", "#c9d1d9", "1–2 pixels (square)", small,
                       "points of one or two pixels, in the colour of their flags");
    html += "</ul>\n";

    std::array<THistogram, 4> plots;
    plots[0] = {"Contrast", "plane 2 − plane 0 in the main blob", "", {}, true, 255};
    plots[1] = {"Main blob", "pixels", "pixels", {}, true, -1};
    plots[2] = {"Stray pixels", "pixels outside the main blob", "pixels", {}, true, -1};
    plots[3] = {"Refinement shift", "refined − plain centre, pixels", "pixels", {}, false, -1};
    if (refined.empty()) {
        plots[0] = {"Point size", "pixels", "pixels", {}, true, -1};
        for (std::int32_t i = 0; i < count; ++i)
            plots[0].Values.push_back(points.Entries[std::size_t(i)].PixelCount);
    } else
        for (std::int32_t i = 0; i < count; ++i) {
            const TRefinedPoint& r = refined[std::size_t(i)];
            const TUniquePoint& p = points.Entries[std::size_t(i)];
            plots[0].Values.push_back(r.Contrast);
            plots[1].Values.push_back(r.BlobPixels);
            plots[2].Values.push_back(r.StrayPixels);
            if (!(r.Flags & kRefineNone))
                plots[3].Values.push_back(std::hypot(r.X - p.X, r.Y - p.Y));
        }
    html += "<div class=\"plots\">";
    for (std::size_t k = 0; k < (refined.empty() ? 1 : plots.size()); ++k)
        html += HistogramSvg(std::move(plots[k]));
    html += "</div>\n</section>\n";
    return html;
}

void WriteReport(const std::string& fileName, const std::string& title,
                 const std::vector<TReportRow>& rows,
                 const std::function<std::string(std::size_t row)>& section) {
    TAtomicFile file(fileName);
    WriteReport(file, title, rows, section);
    file.Commit();
}

void WriteReport(TAtomicFile& file, const std::string& title, const std::vector<TReportRow>& rows,
                 const std::function<std::string(std::size_t row)>& section) {
    std::size_t ok = 0, kept = 0, failed = 0;
    for (const TReportRow& row : rows) {
        ok += row.Status == "ok";
        kept += row.Status == "kept";
        failed += row.Status == "failed";
    }
    std::string head = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>" +
                       EscapeHtml(title) + "</title>\n";
    head += kPageStyle;
    head += "</head>\n<body>\n<h1>" + EscapeHtml(title) + "</h1>\n<p class=\"meta\">" +
            Number(std::int64_t(rows.size())) + (rows.size() == 1 ? " pose" : " poses") + ": " +
            Number(std::int64_t(ok)) + " ok, " + Number(std::int64_t(kept)) + " kept, " +
            Number(std::int64_t(failed)) + " failed</p>\n";
    head += SummaryTable(rows);
    file.Write(head);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string text = section(i);
        if (text.empty())
            continue;
        file.Write("<div class=\"pose-anchor\" id=\"pose-" + Number(std::int64_t(i)) +
                   "\"></div>\n");
        file.Write(kSectionBegin);
        file.Write(text);
        file.Write(kSectionEnd);
    }
    file.Write(PageScript());
    file.Write("</body>\n</html>\n");
}

std::string ReportSectionOf(std::string_view pageText) {
    const std::size_t begin = pageText.find(kSectionBegin);
    if (begin == std::string_view::npos)
        return {};
    const std::size_t from = begin + kSectionBegin.size();
    const std::size_t end = pageText.find(kSectionEnd, from);
    if (end == std::string_view::npos)
        return {};
    return std::string(pageText.substr(from, end - from));
}
