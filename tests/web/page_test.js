// The liquid's page end to end in headless Chromium (node --test): the
// project's own server on 127.0.0.1, real input through the browser's input
// events, the status line read from the canvas glyph by glyph against the
// built-in font and from the console, frame 100 against the native
// program's, the messages of a program that cannot start, a page served
// without cross-origin isolation, and recordings replayed from the address
// and from a drop and saved. One browser serves every case.
//
//   node --test tests/web/page_test.js
//
// Needs build-web/dist (scripts/web.sh), the native build/ (its program;
// FK_NATIVE_BUILD names another) and an X display for the
// native program (scripts/web-test.sh starts a private Xvfb); FK_CHROMIUM
// names the browser (default: Debian's).
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const {execFileSync} = require('child_process');
const {chromium} = require('playwright-core');
const {serve} = require('../../scripts/web-serve.js');
const {readPNG} = require('./png.js');

const root = path.resolve(__dirname, '..', '..');
const dist = path.join(root, 'build-web', 'dist');
const nativeBuild = process.env.FK_NATIVE_BUILD || path.join(root, 'build');
const nativeFluid = path.join(nativeBuild, 'app', 'fluid');
const nativeBench = path.join(nativeBuild, 'tools', 'fluid_bench', 'fluid-bench');
// A run of the real program on Linux (pours, walls, Space, P, N, R, Escape).
const RECORDING = 'pour-wall-pause-step-reset.rec';
const FIRST_LINE = 'Updatezeit: 0  ms  Renderzeit: 0   ms  FPS: 0    Partikel: 3749';
const CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
                        '--disable-background-networking', '--disable-component-update', '--disable-sync',
                        '--no-first-run'];

// The built-in font's 1536 bytes, from its source table.
function builtInFont() {
  const source = fs.readFileSync(path.join(root, 'graphics', 'gl', 'gl_font_data.cpp'), 'utf8');
  const table = source.slice(source.indexOf('GLDrawTextFontData'));
  const bytes = (table.match(/0x[0-9a-fA-F]{2}/g) || []).map((h) => parseInt(h, 16));
  assert.equal(bytes.length, 1536, 'the built-in font table has 96 glyphs of 16 rows');
  return bytes;
}
const font = builtInFont();

// The text of the top row of 8 by 16 cells of an RGBA image: ink is any
// bright pixel; a cell that matches no glyph reads as '?'. Trailing blanks go.
function statusLine(image) {
  let text = '';
  for (let cell = 0; cell < image.width / 8; ++cell) {
    const rows = [];
    for (let y = 0; y < 16; ++y) {
      let bits = 0;
      for (let k = 0; k < 8; ++k) {
        const i = (y * image.width + cell * 8 + k) * 4;
        if (image.rgba[i] + image.rgba[i + 1] + image.rgba[i + 2] > 3 * 128) bits |= 1 << k;
      }
      rows.push(bits);
    }
    let found = '?';
    for (let g = 0; g < 96 && found === '?'; ++g) {
      if (rows.every((bits, y) => font[96 * y + g] === bits)) found = String.fromCharCode(32 + g);
    }
    text += found;
  }
  return text.replace(/ +$/, '');
}

// The share of pixels below the status line whose blue stands out: the
// smooth field is blue, the blobs are not.
function blueShare(image) {
  let blue = 0, all = 0;
  for (let i = image.width * 16 * 4; i < image.rgba.length; i += 4, ++all) {
    const [r, g, b] = [image.rgba[i], image.rgba[i + 1], image.rgba[i + 2]];
    if (b > 96 && b > r + 48 && b > g + 16) ++blue;
  }
  return blue / all;
}

function listen(options) {
  return new Promise((resolve) => {
    const server = serve(Object.assign({port: 0}, options));
    server.listen(0, '127.0.0.1', () => resolve({server, url: `http://127.0.0.1:${server.address().port}/`}));
  });
}

// A copy of the page whose particle image is missing or cut short, or
// (without damage) whole.
function pageCopy(damage) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'fk-page-'));
  temporary.push(dir);
  for (const name of fs.readdirSync(dist)) fs.copyFileSync(path.join(dist, name), path.join(dir, name));
  const image = path.join(dir, 'Metaball.png');
  if (damage === 'missing') fs.rmSync(image);
  else if (damage) fs.writeFileSync(image, fs.readFileSync(image).subarray(0, 100));
  return dir;
}

let browser, isolated, plain, temporary = [];

test.before(async () => {
  assert.ok(fs.existsSync(path.join(dist, 'fluid.wasm')), 'build-web/dist has the page (bash scripts/web.sh)');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'fk-chromium-'));
  temporary.push(profile);
  const executablePath = process.env.FK_CHROMIUM ||
      (fs.existsSync('/usr/bin/chromium') ? '/usr/bin/chromium' : '/usr/lib/chromium/chromium');
  browser = await chromium.launchPersistentContext(profile, {
    executablePath, headless: true, args: CHROMIUM_FLAGS, viewport: {width: 900, height: 500}});
  isolated = await listen({root: dist, isolation: true});
  plain = await listen({root: dist, isolation: false});
});

test.after(async () => {
  if (browser) await browser.close();
  for (const s of [isolated, plain]) if (s) s.server.close();
  for (const dir of temporary) fs.rmSync(dir, {recursive: true, force: true});
});

// Opens the page at address; collects the console and waits for the canvas.
async function open(address) {
  const page = await browser.newPage();
  const consoleLines = [];
  page.on('console', (message) => consoleLines.push(message.text()));
  await page.goto(address);
  return {page, consoleLines};
}

async function frame(page) { return readPNG(await page.locator('#canvas').screenshot()); }

async function waitForEnd(page) {
  await page.waitForSelector('body[data-ended="true"]', {timeout: 60000});
  return page.locator('#state').textContent();
}

// Polls the canvas until its status line passes check.
async function waitForStatus(page, check, what) {
  let line = '';
  for (let tries = 0; tries < 200; ++tries) {
    line = statusLine(await frame(page));
    if (check(line)) return line;
    await page.waitForTimeout(50);
  }
  assert.fail(`${what}: the status line stayed "${line}"`);
}

const particles = (line) => Number((line.match(/Partikel: (\d+)$/) || [])[1]);

test('the first frame shows the program\'s first status line, on the canvas and on the console', async () => {
  const {page, consoleLines} = await open(isolated.url + '?frames=1');
  assert.equal(await waitForEnd(page), 'The program ended.');
  assert.ok(consoleLines.includes(FIRST_LINE), `console: ${JSON.stringify(consoleLines)}`);
  assert.equal(statusLine(await frame(page)), FIRST_LINE);
  assert.equal(await page.title(), 'Ferrumkit Application');
  assert.equal(await page.evaluate(() => crossOriginIsolated), true);
  await page.close();
});

test('clicks pour liquid and build wall, Space switches the drawing, Escape ends the program', async () => {
  const {page} = await open(isolated.url);
  await waitForStatus(page, (line) => particles(line) === 3749 && /FPS/.test(line), 'start');
  await page.evaluate(() => {
    window.addEventListener('contextmenu', (e) => { window.menuShown = !e.defaultPrevented; });
  });
  const box = await page.locator('#canvas').boundingBox();
  await page.mouse.click(box.x + 680, box.y + 140);
  await waitForStatus(page, (line) => particles(line) === 3749 + 256, 'a left click in open space');
  await page.mouse.click(box.x + 720, box.y + 300, {button: 'right'});
  await waitForStatus(page, (line) => particles(line) === 3749 + 256 + 16, 'a right click in open space');
  assert.equal(await page.evaluate(() => window.menuShown), false, 'a right click opens no menu');

  const before = blueShare(await frame(page));
  const scrolled = await page.evaluate(() => window.scrollY);
  await page.keyboard.press('Space');
  await page.waitForTimeout(300);
  assert.equal(await page.evaluate(() => window.scrollY), scrolled, 'Space does not scroll the page');
  assert.ok(await page.evaluate(() => document.documentElement.scrollHeight - innerHeight > scrollY),
            'the page could scroll further');
  let after = before;
  for (let tries = 0; tries < 100 && after < before + 0.05; ++tries) after = blueShare(await frame(page));
  assert.ok(after > before + 0.05, `Space brings the blue field (blue share ${before} -> ${after})`);

  await page.keyboard.press('Escape');
  assert.equal(await waitForEnd(page), 'The program ended.');
  assert.ok(await page.locator('#restart').isVisible(), 'a button starts the program again');
  await page.close();
});

test('the page\'s Close button ends the program', async () => {
  const {page} = await open(isolated.url);
  await waitForStatus(page, (line) => particles(line) === 3749, 'start');
  await page.click('#close');
  assert.equal(await waitForEnd(page), 'The program ended.');
  await page.close();
});

// Pixels below the status line whose colours differ by more than tolerance
// in some channel, as a share of them all.
function differingShare(first, second, tolerance) {
  assert.deepEqual([second.width, second.height], [first.width, first.height], 'frame sizes');
  let differing = 0;
  for (let i = first.width * 16 * 4; i < first.rgba.length; i += 4) {
    for (let c = 0; c < 3; ++c) {
      if (Math.abs(first.rgba[i + c] - second.rgba[i + c]) > tolerance) {
        ++differing;
        break;
      }
    }
  }
  return differing / (first.width * (first.height - 16));
}

// The blobs' edges are where the two rasterisers differ; the smooth field's
// colours are interpolated across its strips, and the two round that shading
// a few levels apart (measured up to about 20 of 255), not its shapes.
test('frame 100 is the native program\'s frame 100 but for edges and shading, in both drawings', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'fk-frames-'));
  temporary.push(dir);
  for (const [smooth, tolerance] of [[false, 0], [true, 24]]) {
    const native = path.join(dir, `native-${smooth}.png`);
    execFileSync(nativeFluid, ['--frames', '100', '--screenshot', native].concat(smooth ? ['--smooth'] : []),
                 {stdio: 'ignore'});
    const {page, consoleLines} = await open(isolated.url + '?frames=100' + (smooth ? '&smooth' : ''));
    assert.equal(await waitForEnd(page), 'The program ended.');
    const share = differingShare(readPNG(fs.readFileSync(native)), await frame(page), tolerance);
    console.log(`frame 100 ${smooth ? 'smooth' : 'blobs'}, web against native: ${(100 * share).toFixed(3)}% ` +
                `of the pixels below the status line differ by more than ${tolerance}`);
    assert.ok(share <= 0.01, `${(100 * share).toFixed(3)}% of the pixels differ`);
    assert.ok(consoleLines.some((line) => /^Updatezeit: .* Partikel: 3749$/.test(line)), 'the last status line');
    await page.close();
  }
});

test('a missing or damaged particle image is said in the page', async () => {
  for (const [damage, why] of [['missing', 'No such file or directory'],
                               ['damaged', 'not a PNG image, or a damaged or truncated one']]) {
    const dir = pageCopy(damage);
    const copy = await listen({root: dir, isolation: true});
    const {page} = await open(copy.url);
    assert.equal(await waitForEnd(page), 'The program ended with status 1.');
    assert.equal((await page.locator('#errors').textContent()).trim(),
                 `fluid: cannot load the particle image /Metaball.png: ${why}`);
    await page.close();
    copy.server.close();
  }
});

test('a browser without WebGL gets the program\'s message in the page', async () => {
  const page = await browser.newPage();
  await page.addInitScript(() => {
    const original = HTMLCanvasElement.prototype.getContext;
    HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
      return /webgl/.test(kind) ? null : original.call(this, kind, ...rest);
    };
  });
  await page.goto(isolated.url);
  assert.equal(await waitForEnd(page), 'The program ended with status 1.');
  assert.equal((await page.locator('#errors').textContent()).trim(),
               'fluid: cannot open the 800 by 600 OpenGL window: ' +
               'Web: Failed to create a WebGL context on the canvas (WebGL is not available)');
  await page.close();
});

test('a page served without cross-origin isolation still runs', async () => {
  const {page, consoleLines} = await open(plain.url + '?frames=5&smooth');
  assert.equal(await waitForEnd(page), 'The program ended.');
  assert.equal(await page.evaluate(() => crossOriginIsolated), false);
  assert.ok(consoleLines.some((line) => /^Updatezeit: .* Partikel: 3749$/.test(line)), `console: ${consoleLines}`);
  await page.close();
});

// The native fluid-bench's replay of file: its state dump and its particle
// count (fluid and boundary particles, as the status line counts them).
function nativeReplay(file) {
  const dump = file + '.bin';
  const out = execFileSync(nativeBench, ['--replay', file, '--dump', dump], {encoding: 'utf8'});
  const [, fluid, boundary] = out.match(/(\d+) fluid, (\d+) boundary particles/);
  return {particles: Number(fluid) + Number(boundary), state: fs.readFileSync(dump)};
}

// Clicks "Save recording"; the download's bytes, saved as name in dir.
async function saveRecording(page, dir, name) {
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#save')]);
  assert.equal(download.suggestedFilename(), 'fluid.rec');
  const file = path.join(dir, name);
  await download.saveAs(file);
  const bytes = fs.readFileSync(file);
  assert.equal(bytes.subarray(0, 8).toString('latin1'), 'FKRECORD', `${name} is a recording`);
  return file;
}

test('a recording replays from the address and dropped on the canvas, and "Save recording" saves the run', async () => {
  const dir = pageCopy();
  const original = path.join(dir, RECORDING);
  fs.copyFileSync(path.join(root, 'tests', 'app', 'data', RECORDING), original);
  const expected = nativeReplay(original);
  const copy = await listen({root: dir, isolation: true});

  // The recording ends with its Escape: the replay ends the program there.
  const {page} = await open(copy.url + '?replay=' + RECORDING);
  assert.equal(await waitForEnd(page), 'The program ended.');
  assert.equal(particles(statusLine(await frame(page))), expected.particles, 'the replay\'s last status line');
  const ended = await saveRecording(page, dir, 'ended.rec');
  assert.deepEqual(fs.readFileSync(ended), fs.readFileSync(original), 'the replayed run records the same frames');

  // One the server does not have: the page says so, then the program.
  await page.goto(copy.url + '?replay=missing.rec');
  assert.equal(await waitForEnd(page), 'The program ended with status 1.');
  assert.equal((await page.locator('#errors').textContent()).trim(),
               'cannot fetch missing.rec: 404 Not Found\n' +
               'fluid: cannot replay /replay/missing.rec: No such file or directory');

  // A live run's recording so far (its part file) replays natively; the
  // same recording dropped on the canvas starts the page over replaying it.
  await page.goto(copy.url);
  const box = await page.locator('#canvas').boundingBox();
  await page.mouse.click(box.x + 720, box.y + 300, {button: 'right'});
  await waitForStatus(page, (line) => particles(line) === 3749 + 16, 'a live wall');
  assert.equal(nativeReplay(await saveRecording(page, dir, 'running.rec')).particles, 3749 + 16);
  const dataTransfer = await page.evaluateHandle((bytes) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(bytes)], 'dropped.rec'));
    return transfer;
  }, [...fs.readFileSync(ended)]);
  await page.dispatchEvent('#canvas', 'drop', {dataTransfer});
  assert.equal(await waitForEnd(page), 'The program ended.');
  assert.equal(particles(statusLine(await frame(page))), expected.particles, 'the dropped replay\'s last status line');
  await page.close();
  copy.server.close();
});
