// What the report page brings along for the browser: its style sheet and its script.

#include "output/ReportDetail.h"

namespace report_detail {

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

std::string_view PageStyle() {
    return R"css(<style>
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
}

} // namespace report_detail
