// The page's frame rate in headless Chromium against a bare WebGL page that
// draws the same primitives from ready-made arrays in the same browser, in
// each drawing. Prints figures; times nothing it checks.
//
//   node tests/web/frame_bench.js [--frames N]
//
// The page runs index.html?frames=N (and &smooth) from build-web/dist; the
// bare page draws, per frame, the primitives the program draws, from arrays
// made once: the particles of the scene after N / 2 steps (fluid-bench.js
// --dump) as additive sprite quads with the program's Metaball.png, the
// sharpening quad twice, the wall squares and a 67-glyph status line in
// sprite mode; in smooth mode one triangle strip per 3-pixel row over the
// runs of samples that have a particle within the sprite's reach, coloured
// per vertex, the walls and the status line. Both wait for the browser's
// animation frame after each frame, as the program's buffer swap does.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const {chromium} = require('playwright-core');
const {execFileSync} = require('child_process');
const {serve} = require('../../scripts/web-serve.js');

const root = path.resolve(__dirname, '..', '..');
const dist = path.join(root, 'build-web', 'dist');
const frames = Number((process.argv.join(' ').match(/--frames (\d+)/) || [])[1] || 300);

// The bare page: builds its arrays once, then draws N frames.
const BARE = `<!DOCTYPE html><html><body><canvas id="c" width="800" height="600"></canvas><img id="sprite" src="Metaball.png"><script>
'use strict';
const gl = document.getElementById('c').getContext('webgl', {antialias: false, alpha: false, preserveDrawingBuffer: false});
const vs = 'attribute vec2 p; attribute vec2 t; attribute vec4 c; varying vec2 vt; varying vec4 vc;' +
           'void main() { gl_Position = vec4(p.x / 400.0 - 1.0, 1.0 - p.y / 300.0, 0.0, 1.0); vt = t; vc = c; }';
const fsrc = 'precision mediump float; varying vec2 vt; varying vec4 vc; uniform sampler2D s; uniform float textured;' +
             'void main() { vec4 k = vc * mix(vec4(1.0), texture2D(s, vt), textured); if (k.a <= 0.0) discard; gl_FragColor = k; }';
function shader(type, text) { const s = gl.createShader(type); gl.shaderSource(s, text); gl.compileShader(s); return s; }
const program = gl.createProgram();
gl.attachShader(program, shader(gl.VERTEX_SHADER, vs));
gl.attachShader(program, shader(gl.FRAGMENT_SHADER, fsrc));
gl.linkProgram(program);
gl.useProgram(program);
const at = {p: gl.getAttribLocation(program, 'p'), t: gl.getAttribLocation(program, 't'), c: gl.getAttribLocation(program, 'c')};
const textured = gl.getUniformLocation(program, 'textured');
// A 32 by 32 radial sprite, mipmapped, as the particle texture is.
gl.bindTexture(gl.TEXTURE_2D, gl.createTexture());
gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA, gl.RGBA, gl.UNSIGNED_BYTE, document.getElementById('sprite'));
gl.generateMipmap(gl.TEXTURE_2D);
// The default filters, as the program leaves them.
// Quads as two triangles each: positions, texture coordinates, colours.
function quads(list) {
  const p = [], t = [], c = [];
  for (const [x0, y0, x1, y1, colour] of list) {
    for (const [u, v] of [[0, 0], [1, 0], [1, 1], [0, 0], [1, 1], [0, 1]]) {
      p.push(u ? x1 : x0, v ? y1 : y0); t.push(u, v); c.push(...colour);
    }
  }
  return batch(p, t, c, gl.TRIANGLES, [[0, p.length / 2]]);
}
function batch(p, t, c, mode, ranges) {
  const make = (data) => { const b = gl.createBuffer(); gl.bindBuffer(gl.ARRAY_BUFFER, b); gl.bufferData(gl.ARRAY_BUFFER, new Float32Array(data), gl.STATIC_DRAW); return b; };
  return {p: make(p), t: make(t), c: make(c), mode, ranges};
}
function draw(b) {
  for (const [name, buffer, size] of [['p', b.p, 2], ['t', b.t, 2], ['c', b.c, 4]]) {
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer); gl.enableVertexAttribArray(at[name]);
    gl.vertexAttribPointer(at[name], size, gl.FLOAT, false, 0, 0);
  }
  for (const [first, count] of b.ranges) gl.drawArrays(b.mode, first, count);
}
const white = [1, 1, 1, 1];
const sprites = [], squares = [], glyphs = [];
for (const [x, y] of SCENE.fluid) sprites.push([x - 8, y - 8, x + 8, y + 8, white]);
for (const [x, y] of SCENE.walls) squares.push([x - 3, y - 3, x + 3, y + 3, [1, 0.5, 0.5, 1]]);
for (let i = 0; i < 67; ++i) glyphs.push([i * 8, 0, i * 8 + 8, 16, white]);
const spriteBatch = quads(sprites), squareBatch = quads(squares), textBatch = quads(glyphs);
const sharpen = quads([[0, 0, 800, 600, white], [0, 0, 800, 600, white]]);
// Smooth mode: a strip per 3-pixel row over each run of samples near a particle.
const near = new Uint8Array(268 * 201);
for (const [x, y] of SCENE.fluid)
  for (let j = Math.max(0, Math.floor((y - 9) / 3)); j <= Math.min(200, Math.ceil((y + 9) / 3)); ++j)
    for (let i = Math.max(0, Math.floor((x - 9) / 3)); i <= Math.min(267, Math.ceil((x + 9) / 3)); ++i) near[j * 268 + i] = 1;
const sp = [], st = [], sc = [], ranges = [];
for (let j = 0; j < 200; ++j) {
  for (let i = 0; i < 268; ++i) {
    if (!near[j * 268 + i] && !near[(j + 1) * 268 + i]) continue;
    const first = sp.length / 2;
    for (; i < 268 && (near[j * 268 + i] || near[(j + 1) * 268 + i]); ++i) for (const dy of [0, 3]) {
      sp.push(i * 3, j * 3 + dy); st.push(0, 0); sc.push(0.2, 0.4, 1, 0.8);
    }
    ranges.push([first, sp.length / 2 - first]);
  }
}
const strips = batch(sp, st, sc, gl.TRIANGLE_STRIP, ranges);
function frame(smooth) {
  gl.clear(gl.COLOR_BUFFER_BIT);
  gl.uniform1f(textured, 1);
  draw(textBatch);
  if (!smooth) {
    gl.enable(gl.BLEND); gl.blendFunc(gl.ONE, gl.ONE); draw(spriteBatch);
    gl.uniform1f(textured, 0); gl.blendFunc(gl.ZERO, gl.DST_COLOR); draw(sharpen); gl.disable(gl.BLEND);
  } else {
    gl.uniform1f(textured, 0); gl.enable(gl.BLEND); gl.blendFunc(gl.SRC_ALPHA, gl.ONE_MINUS_SRC_ALPHA); draw(strips); gl.disable(gl.BLEND);
  }
  gl.uniform1f(textured, 0);
  draw(squareBatch);
}
window.run = (n, smooth) => new Promise((resolve) => {
  if (!document.getElementById('sprite').complete) return setTimeout(() => window.run(n, smooth).then(resolve), 50);
  let done = 0; const start = performance.now();
  const next = () => { if (done++ === n) return resolve(performance.now() - start); frame(smooth); requestAnimationFrame(next); };
  next();
});
</script></body></html>`;

// The particles in window pixels after steps steps of the initial scene, from
// fluid-bench.js --dump (counts, then 8 floats per fluid particle and 2 per wall particle).
function scene(steps, dir) {
  const file = path.join(dir, 'scene.bin');
  execFileSync('node', ['--no-experimental-fetch', path.join(root, 'build-web', 'tools', 'fluid_bench', 'fluid-bench.js'),
                        '--steps', String(steps), '--dump', file], {stdio: 'ignore'});
  const bytes = fs.readFileSync(file), fluid = [], walls = [];
  const count = bytes.readInt32LE(0), boundary = bytes.readInt32LE(4);
  const pixels = 2.5;  // world units to window pixels
  for (let i = 0; i < count; ++i) fluid.push([bytes.readFloatLE(8 + 32 * i) * pixels, bytes.readFloatLE(12 + 32 * i) * pixels]);
  for (let i = 0; i < boundary; ++i) {
    const at = 8 + 32 * count + 8 * i;
    walls.push([bytes.readFloatLE(at) * pixels, bytes.readFloatLE(at + 4) * pixels]);
  }
  return {fluid, walls};
}

(async () => {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'fk-chromium-'));
  const bareDir = fs.mkdtempSync(path.join(os.tmpdir(), 'fk-bare-'));
  fs.writeFileSync(path.join(bareDir, 'index.html'),
                   BARE.replace('<script>', '<script>const SCENE = ' + JSON.stringify(scene(frames / 2, bareDir)) + ';'));
  fs.copyFileSync(path.join(dist, 'Metaball.png'), path.join(bareDir, 'Metaball.png'));
  const servers = [serve({root: dist, isolation: true}), serve({root: bareDir, isolation: true})];
  await Promise.all(servers.map((s) => new Promise((r) => s.listen(0, '127.0.0.1', r))));
  const [pageUrl, bareUrl] = servers.map((s) => `http://127.0.0.1:${s.address().port}/`);
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.FK_CHROMIUM || '/usr/bin/chromium', headless: true,
    args: ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
           '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run']});
  try {
    for (const smooth of [false, true]) {
      const page = await browser.newPage();
      await page.goto(pageUrl + `?frames=${frames}` + (smooth ? '&smooth' : ''));
      await page.waitForSelector('body[data-ended="true"]', {timeout: 600000});
      const run = await page.evaluate(() => window.fkRun);
      const programRate = frames / ((run.ended - run.started) / 1000);
      await page.goto(bareUrl);
      const bareMs = await page.evaluate(([n, s]) => window.run(n, s), [frames, smooth]);
      const bareRate = frames / (bareMs / 1000);
      console.log(`${smooth ? 'smooth' : 'blobs '}: page ${programRate.toFixed(1)} frames/s, bare WebGL ` +
                  `${bareRate.toFixed(1)} frames/s, page/bare ${(programRate / bareRate).toFixed(2)} (${frames} frames)`);
      await page.close();
    }
  } finally {
    await browser.close();
    servers.forEach((s) => s.close());
    fs.rmSync(profile, {recursive: true, force: true});
    fs.rmSync(bareDir, {recursive: true, force: true});
  }
})().catch((e) => { console.error(e); process.exit(1); });
