// What the web module's tests share: the module, the native programs that give the expected
// bytes and samples, scratch files, and WAV files made in code.
'use strict';

const childProcess = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '..', '..');
// The native build whose vellox and velloxdec give the expected results.
const build = path.resolve(root, process.env.VELLOX_BUILD || 'build/release');
const createVellox = require(path.join(root, 'web', 'vellox.js'));

// A directory of this process's own, removed when the process ends.
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vellox-web-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
let scratchNumber = 0;

function scratchPath(name) {
  return path.join(scratch, ++scratchNumber + '-' + name);
}

function writeScratch(name, bytes) {
  const file = scratchPath(name);
  fs.writeFileSync(file, bytes);
  return file;
}

// Runs build/<program> with args; { status, stdout, stderr }.
function run(program, args) {
  const result = childProcess.spawnSync(path.join(build, program), args, { encoding: 'utf8' });
  if (result.error) throw result.error;
  return { status: result.status, stdout: result.stdout, stderr: result.stderr };
}

// vellox's ACM file for the input file with the given options; its console text as well.
function velloxEncode(input, options) {
  const output = scratchPath('vellox.acm');
  const result = run('vellox', [input, output].concat(options || []));
  if (result.status !== 0) throw new Error('vellox failed: ' + result.stdout + result.stderr);
  return { bytes: new Uint8Array(fs.readFileSync(output)), stdout: result.stdout };
}

// velloxdec's WAV file for the ACM file, and its console text.
function velloxdecDecode(acm, options) {
  const output = scratchPath('velloxdec.wav');
  const result = run('velloxdec', [acm, output].concat(options || []));
  if (result.status !== 0) throw new Error('velloxdec failed: ' + result.stdout + result.stderr);
  return { bytes: new Uint8Array(fs.readFileSync(output)), stdout: result.stdout,
           stderr: result.stderr };
}

// The samples of a 16-bit PCM WAV file velloxdec wrote (a 44-byte header).
function wavSamples(bytes) {
  return new Int16Array(bytes.buffer.slice(bytes.byteOffset + 44, bytes.byteOffset + bytes.length));
}

function seededNoise(count, amplitude, seed) {
  const samples = new Int16Array(count);
  let state = seed >>> 0;
  for (let i = 0; i < count; ++i) {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    samples[i] = Math.round(((state / 4294967296) * 2 - 1) * amplitude);
  }
  return samples;
}

function sine(count, amplitude, period) {
  const samples = new Int16Array(count);
  for (let i = 0; i < count; ++i) samples[i] = Math.round(amplitude * Math.sin((2 * Math.PI * i) / period));
  return samples;
}

// A WAV file of the values (numbers as stored: integers for PCM, reals for float) in the
// given layout: { tag (1 PCM, 3 float), bits, channels, rate, extensible, rf64 }.
function makeWav(values, layout) {
  const bits = layout.bits;
  const width = bits / 8;
  const dataSize = values.length * width;
  const extensible = Boolean(layout.extensible);
  const formatSize = extensible ? 40 : 16;
  const rf64 = Boolean(layout.rf64);
  const headerSize = 12 + (rf64 ? 8 + 28 : 0) + 8 + formatSize + 8;
  const bytes = new Uint8Array(headerSize + dataSize + (dataSize & 1));
  const view = new DataView(bytes.buffer);
  const tag = (at, text) => { for (let i = 0; i < 4; ++i) bytes[at + i] = text.charCodeAt(i); };
  let at = 0;
  tag(0, rf64 ? 'RF64' : 'RIFF');
  view.setUint32(4, rf64 ? 0xFFFFFFFF : bytes.length - 8, true);
  tag(8, 'WAVE');
  at = 12;
  if (rf64) {
    tag(at, 'ds64');
    view.setUint32(at + 4, 28, true);
    view.setBigUint64(at + 8, BigInt(bytes.length - 8), true);
    view.setBigUint64(at + 16, BigInt(dataSize), true);
    view.setBigUint64(at + 24, BigInt(values.length / layout.channels), true);
    view.setUint32(at + 32, 0, true);
    at += 36;
  }
  tag(at, 'fmt ');
  view.setUint32(at + 4, formatSize, true);
  view.setUint16(at + 8, extensible ? 0xFFFE : layout.tag, true);
  view.setUint16(at + 10, layout.channels, true);
  view.setUint32(at + 12, layout.rate, true);
  view.setUint32(at + 16, layout.rate * layout.channels * width, true);
  view.setUint16(at + 20, layout.channels * width, true);
  view.setUint16(at + 22, bits, true);
  if (extensible) {
    view.setUint16(at + 24, 22, true);
    view.setUint16(at + 26, bits, true);
    view.setUint32(at + 28, 0, true);
    view.setUint16(at + 32, layout.tag, true);  // the sub-format GUID begins with the tag
  }
  at += 8 + formatSize;
  tag(at, 'data');
  view.setUint32(at + 4, rf64 ? 0xFFFFFFFF : dataSize, true);
  at += 8;
  for (const value of values) {
    if (layout.tag === 3 && bits === 32) view.setFloat32(at, value, true);
    else if (layout.tag === 3 && bits === 64) view.setFloat64(at, value, true);
    else if (bits === 8) view.setUint8(at, value);
    else if (bits === 16) view.setInt16(at, value, true);
    else if (bits === 24) {
      view.setUint8(at, value & 0xFF);
      view.setInt16(at + 1, value >> 8, true);
    } else view.setInt32(at, value, true);
    at += width;
  }
  return bytes;
}

// The line a program printed for a refused file, "Error: <text>: '<name>'", as its text.
function errorText(output, name) {
  const line = output.split('\n').find((l) => l.startsWith('Error: '));
  if (line === undefined) return undefined;
  const text = line.slice('Error: '.length);
  const suffix = ": '" + name + "'";
  return text.endsWith(suffix) ? text.slice(0, text.length - suffix.length) : text;
}

module.exports = {
  root, build, createVellox, scratchPath, writeScratch, run, velloxEncode, velloxdecDecode,
  wavSamples, seededNoise, sine, makeWav, errorText,
};
