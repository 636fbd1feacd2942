// A small PNG reader for the page tests: 8-bit greyscale, RGB and RGBA
// images without interlacing (what Chromium's screenshots and the program's
// own screenshots are), into RGBA rows.
'use strict';
const zlib = require('zlib');

function paeth(a, b, c) {
  const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// {width, height, rgba: Buffer} of a PNG file's bytes; throws on anything else.
function readPNG(bytes) {
  if (bytes.readUInt32BE(0) !== 0x89504e47) throw new Error('not a PNG file');
  let offset = 8, width = 0, height = 0, depth = 0, colour = 0, interlace = 0;
  const data = [];
  while (offset < bytes.length) {
    const length = bytes.readUInt32BE(offset), type = bytes.toString('latin1', offset + 4, offset + 8);
    const body = bytes.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0); height = body.readUInt32BE(4);
      depth = body[8]; colour = body[9]; interlace = body[12];
    } else if (type === 'IDAT') {
      data.push(body);
    } else if (type === 'IEND') {
      break;
    }
    offset += 12 + length;
  }
  const channels = {0: 1, 2: 3, 6: 4}[colour];
  if (depth !== 8 || !channels || interlace !== 0) throw new Error(`unsupported PNG (depth ${depth}, colour ${colour})`);
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels, rows = Buffer.alloc(stride * height), rgba = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; ++i) {
      const a = i >= channels ? rows[y * stride + i - channels] : 0, b = y > 0 ? rows[(y - 1) * stride + i] : 0;
      const c = i >= channels && y > 0 ? rows[(y - 1) * stride + i - channels] : 0;
      const predictor = [0, a, b, (a + b) >> 1, paeth(a, b, c)][filter];
      if (predictor === undefined) throw new Error(`bad PNG filter ${filter}`);
      rows[y * stride + i] = (line[i] + predictor) & 0xff;
    }
    for (let x = 0; x < width; ++x) {
      const from = y * stride + x * channels, to = (y * width + x) * 4;
      if (channels === 1) rgba.fill(rows[from], to, to + 3);
      else rows.copy(rgba, to, from, from + 3);
      rgba[to + 3] = channels === 4 ? rows[from + 3] : 255;
    }
  }
  return {width, height, rgba};
}

module.exports = {readPNG};
