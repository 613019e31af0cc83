// Test media made on the spot, so the suite ships no binary files: PNG
// pictures (a colour gradient with a band, deflated with zlib) and MP3 songs
// of silence (MPEG-1 Layer III frames whose side information is all zero,
// which every decoder plays as silence of the frames' length).
'use strict';

const zlib = require('zlib');

const CRC_TABLE = (() => {
  const table = new Int32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c;
  }
  return table;
})();

function crc32(buf) {
  let c = -1;
  for (const b of buf) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(4);
  head.writeUInt32BE(data.length);
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([head, body, crc]);
}

// A width x height RGB picture shading from colour `from` to `to`.
function png(width, height, from, to) {
  const rows = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; y++) {
    const row = y * (width * 3 + 1);
    rows[row] = 0;
    for (let x = 0; x < width; x++) {
      const t = (x + y) / (width + height);
      const band = Math.abs(y - height / 2) < height / 12 ? 40 : 0;
      for (let i = 0; i < 3; i++) {
        const v = from[i] + (to[i] - from[i]) * t + band;
        rows[row + 1 + x * 3 + i] = Math.max(0, Math.min(255, Math.round(v)));
      }
    }
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;  // bit depth
  ihdr[9] = 2;  // RGB
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(rows)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// About `seconds` of silence: 128 kbit/s, 44.1 kHz, mono frames of 417 bytes
// (1152 samples each).
function silentMp3(seconds) {
  const frames = Math.ceil((seconds * 44100) / 1152);
  const frame = Buffer.alloc(417);
  frame[0] = 0xff;
  frame[1] = 0xfb;  // MPEG-1, Layer III, no CRC
  frame[2] = 0x90;  // 128 kbit/s, 44100 Hz, no padding
  frame[3] = 0xc0;  // mono
  return Buffer.concat(new Array(frames).fill(frame));
}

module.exports = { png, silentMp3 };
