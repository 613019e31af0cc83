// QR codes for share links, drawn on a canvas: byte mode (the text as UTF-8),
// error correction level M, the smallest version (1 to 40) that holds the
// text, and the mask with the lowest penalty. No outside library: the
// console must work without any download at run time.
//
//   OwnerQR.encode(text)            -> { size, modules, version, mask }
//   OwnerQR.encode(text, { mask })  the same with a fixed mask (0 to 7)
//   OwnerQR.draw(canvas, qr, scale) paints it with a four-module quiet zone
'use strict';

(function () {
  // Per version (index 0 unused), for level M.
  const ECC_PER_BLOCK = [-1, 10, 16, 26, 18, 24, 16, 18, 22, 22, 26, 30, 22, 22, 24, 24, 28, 28,
    26, 26, 26, 26, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28];
  const BLOCKS = [-1, 1, 1, 1, 2, 2, 4, 4, 4, 5, 5, 5, 8, 9, 9, 10, 10, 11, 13, 14, 16, 17, 17,
    18, 20, 21, 23, 25, 26, 28, 29, 31, 33, 35, 37, 38, 40, 43, 45, 47, 49];
  const FORMAT_BITS_M = 0;

  function rawDataModules(ver) {
    let result = (16 * ver + 128) * ver + 64;
    if (ver >= 2) {
      const align = Math.floor(ver / 7) + 2;
      result -= (25 * align - 10) * align - 55;
      if (ver >= 7) result -= 36;
    }
    return result;
  }

  function dataCodewords(ver) {
    return Math.floor(rawDataModules(ver) / 8) - ECC_PER_BLOCK[ver] * BLOCKS[ver];
  }

  function utf8(text) {
    return Array.from(new TextEncoder().encode(text));
  }

  // GF(256) with the polynomial x^8 + x^4 + x^3 + x^2 + 1.
  function gfMultiply(x, y) {
    let z = 0;
    for (let i = 7; i >= 0; i--) {
      z = (z << 1) ^ ((z >>> 7) * 0x11d);
      z ^= ((y >>> i) & 1) * x;
    }
    return z & 0xff;
  }

  function rsDivisor(degree) {
    const result = new Array(degree).fill(0);
    result[degree - 1] = 1;
    let root = 1;
    for (let i = 0; i < degree; i++) {
      for (let j = 0; j < result.length; j++) {
        result[j] = gfMultiply(result[j], root);
        if (j + 1 < result.length) result[j] ^= result[j + 1];
      }
      root = gfMultiply(root, 0x02);
    }
    return result;
  }

  function rsRemainder(data, divisor) {
    const result = divisor.map(() => 0);
    for (const b of data) {
      const factor = b ^ result.shift();
      result.push(0);
      divisor.forEach((coef, i) => { result[i] ^= gfMultiply(coef, factor); });
    }
    return result;
  }

  // Mode, count, data, terminator and pad bytes: the data codewords.
  function dataBytes(bytes, ver) {
    const bits = [];
    const put = (value, length) => {
      for (let i = length - 1; i >= 0; i--) bits.push((value >>> i) & 1);
    };
    put(0x4, 4);
    put(bytes.length, ver <= 9 ? 8 : 16);
    bytes.forEach((b) => put(b, 8));
    const capacity = dataCodewords(ver) * 8;
    put(0, Math.min(4, capacity - bits.length));
    put(0, (8 - (bits.length % 8)) % 8);
    for (let pad = 0xec; bits.length < capacity; pad ^= 0xec ^ 0x11) put(pad, 8);
    const out = [];
    for (let i = 0; i < bits.length; i += 8) {
      let b = 0;
      for (let j = 0; j < 8; j++) b = (b << 1) | bits[i + j];
      out.push(b);
    }
    return out;
  }

  function interleave(data, ver) {
    const blocks = BLOCKS[ver];
    const eccLength = ECC_PER_BLOCK[ver];
    const raw = Math.floor(rawDataModules(ver) / 8);
    const shortBlocks = blocks - (raw % blocks);
    const shortLength = Math.floor(raw / blocks);
    const divisor = rsDivisor(eccLength);
    const all = [];
    for (let i = 0, k = 0; i < blocks; i++) {
      const block = data.slice(k, k + shortLength - eccLength + (i < shortBlocks ? 0 : 1));
      k += block.length;
      const ecc = rsRemainder(block, divisor);
      if (i < shortBlocks) block.push(0);
      all.push(block.concat(ecc));
    }
    const result = [];
    for (let i = 0; i < all[0].length; i++) {
      all.forEach((block, j) => {
        if (i !== shortLength - eccLength || j >= shortBlocks) result.push(block[i]);
      });
    }
    return result;
  }

  function alignmentPositions(ver) {
    if (ver === 1) return [];
    const count = Math.floor(ver / 7) + 2;
    const step = Math.floor((ver * 8 + count * 3 + 5) / (count * 4 - 4)) * 2;
    const result = [6];
    for (let pos = ver * 4 + 17 - 7; result.length < count; pos -= step) result.splice(1, 0, pos);
    return result;
  }

  class Grid {
    constructor(ver) {
      this.size = ver * 4 + 17;
      this.modules = [];
      this.isFunction = [];
      for (let i = 0; i < this.size; i++) {
        this.modules.push(new Array(this.size).fill(false));
        this.isFunction.push(new Array(this.size).fill(false));
      }
    }

    fn(x, y, dark) {
      this.modules[y][x] = dark;
      this.isFunction[y][x] = true;
    }

    drawFunctionPatterns(ver) {
      const size = this.size;
      for (let i = 0; i < size; i++) {
        this.fn(6, i, i % 2 === 0);
        this.fn(i, 6, i % 2 === 0);
      }
      for (const [x, y] of [[3, 3], [size - 4, 3], [3, size - 4]]) {
        for (let dy = -4; dy <= 4; dy++) {
          for (let dx = -4; dx <= 4; dx++) {
            const dist = Math.max(Math.abs(dx), Math.abs(dy));
            const xx = x + dx;
            const yy = y + dy;
            if (xx >= 0 && xx < size && yy >= 0 && yy < size) this.fn(xx, yy, dist !== 2 && dist !== 4);
          }
        }
      }
      const pos = alignmentPositions(ver);
      const last = pos.length - 1;
      pos.forEach((px, i) => pos.forEach((py, j) => {
        if ((i === 0 && j === 0) || (i === 0 && j === last) || (i === last && j === 0)) return;
        for (let dy = -2; dy <= 2; dy++) {
          for (let dx = -2; dx <= 2; dx++) this.fn(px + dx, py + dy, Math.max(Math.abs(dx), Math.abs(dy)) !== 1);
        }
      }));
      this.drawFormat(0);
      this.drawVersion(ver);
    }

    drawFormat(mask) {
      const data = (FORMAT_BITS_M << 3) | mask;
      let rem = data;
      for (let i = 0; i < 10; i++) rem = (rem << 1) ^ ((rem >>> 9) * 0x537);
      const bits = ((data << 10) | rem) ^ 0x5412;
      const bit = (i) => ((bits >>> i) & 1) !== 0;
      const size = this.size;
      for (let i = 0; i <= 5; i++) this.fn(8, i, bit(i));
      this.fn(8, 7, bit(6));
      this.fn(8, 8, bit(7));
      this.fn(7, 8, bit(8));
      for (let i = 9; i < 15; i++) this.fn(14 - i, 8, bit(i));
      for (let i = 0; i < 8; i++) this.fn(size - 1 - i, 8, bit(i));
      for (let i = 8; i < 15; i++) this.fn(8, size - 15 + i, bit(i));
      this.fn(8, size - 8, true);
    }

    drawVersion(ver) {
      if (ver < 7) return;
      let rem = ver;
      for (let i = 0; i < 12; i++) rem = (rem << 1) ^ ((rem >>> 11) * 0x1f25);
      const bits = (ver << 12) | rem;
      for (let i = 0; i < 18; i++) {
        const dark = ((bits >>> i) & 1) !== 0;
        const a = this.size - 11 + (i % 3);
        const b = Math.floor(i / 3);
        this.fn(a, b, dark);
        this.fn(b, a, dark);
      }
    }

    drawCodewords(codewords) {
      const size = this.size;
      let i = 0;
      for (let right = size - 1; right >= 1; right -= 2) {
        if (right === 6) right = 5;
        for (let vert = 0; vert < size; vert++) {
          for (let j = 0; j < 2; j++) {
            const x = right - j;
            const upward = ((right + 1) & 2) === 0;
            const y = upward ? size - 1 - vert : vert;
            if (!this.isFunction[y][x] && i < codewords.length * 8) {
              this.modules[y][x] = ((codewords[i >>> 3] >>> (7 - (i & 7))) & 1) !== 0;
              i++;
            }
          }
        }
      }
    }

    applyMask(mask) {
      for (let y = 0; y < this.size; y++) {
        for (let x = 0; x < this.size; x++) {
          if (!this.isFunction[y][x] && MASKS[mask](x, y)) this.modules[y][x] = !this.modules[y][x];
        }
      }
    }

    penalty() {
      const m = this.modules;
      const size = this.size;
      let score = 0;
      const line = (get) => {
        let run = 1;
        for (let i = 1; i <= size; i++) {
          if (i < size && get(i) === get(i - 1)) {
            run++;
          } else {
            if (run >= 5) score += run - 2;
            run = 1;
          }
        }
        // A finder-like stretch: dark light dark dark dark light dark with
        // four light modules on one side.
        for (let i = 0; i + 7 <= size; i++) {
          const core = [1, 0, 1, 1, 1, 0, 1].every((v, k) => get(i + k) === (v === 1));
          if (!core) continue;
          const lightBefore = [1, 2, 3, 4].every((k) => i - k < 0 || !get(i - k));
          const lightAfter = [0, 1, 2, 3].every((k) => i + 7 + k >= size || !get(i + 7 + k));
          if (lightBefore || lightAfter) score += 40;
        }
      };
      for (let y = 0; y < size; y++) line((x) => m[y][x]);
      for (let x = 0; x < size; x++) line((y) => m[y][x]);
      let dark = 0;
      for (let y = 0; y < size; y++) {
        for (let x = 0; x < size; x++) {
          if (m[y][x]) dark++;
          if (x + 1 < size && y + 1 < size) {
            const c = m[y][x];
            if (c === m[y][x + 1] && c === m[y + 1][x] && c === m[y + 1][x + 1]) score += 3;
          }
        }
      }
      const total = size * size;
      score += Math.floor(Math.abs(dark * 20 - total * 10) / total) * 10;
      return score;
    }
  }

  const MASKS = [
    (x, y) => (x + y) % 2 === 0,
    (x, y) => y % 2 === 0,
    (x) => x % 3 === 0,
    (x, y) => (x + y) % 3 === 0,
    (x, y) => (Math.floor(x / 3) + Math.floor(y / 2)) % 2 === 0,
    (x, y) => ((x * y) % 2) + ((x * y) % 3) === 0,
    (x, y) => (((x * y) % 2) + ((x * y) % 3)) % 2 === 0,
    (x, y) => (((x + y) % 2) + ((x * y) % 3)) % 2 === 0,
  ];

  function encode(text, options = {}) {
    const bytes = utf8(String(text));
    let ver = 1;
    while (ver <= 40 && 4 + (ver <= 9 ? 8 : 16) + bytes.length * 8 > dataCodewords(ver) * 8) ver++;
    if (ver > 40) throw new Error('The text is too long for a QR code.');
    const codewords = interleave(dataBytes(bytes, ver), ver);
    const build = (mask) => {
      const grid = new Grid(ver);
      grid.drawFunctionPatterns(ver);
      grid.drawCodewords(codewords);
      grid.applyMask(mask);
      grid.drawFormat(mask);
      return grid;
    };
    let best = null;
    let bestMask = 0;
    const masks = options.mask === undefined ? [0, 1, 2, 3, 4, 5, 6, 7] : [options.mask];
    for (const mask of masks) {
      const grid = build(mask);
      if (masks.length === 1) {
        best = grid;
        bestMask = mask;
        break;
      }
      const score = grid.penalty();
      if (!best || score < best.score) {
        best = grid;
        best.score = score;
        bestMask = mask;
      }
    }
    return { size: best.size, modules: best.modules, version: ver, mask: bestMask };
  }

  function draw(canvas, qr, scale = 4) {
    const quiet = 4;
    const side = (qr.size + quiet * 2) * scale;
    canvas.width = side;
    canvas.height = side;
    const g = canvas.getContext('2d');
    g.fillStyle = '#ffffff';
    g.fillRect(0, 0, side, side);
    g.fillStyle = '#000000';
    for (let y = 0; y < qr.size; y++) {
      for (let x = 0; x < qr.size; x++) {
        if (qr.modules[y][x]) g.fillRect((x + quiet) * scale, (y + quiet) * scale, scale, scale);
      }
    }
  }

  window.OwnerQR = { encode, draw };
}());
