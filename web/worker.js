// The page's Web Worker: every file is read, encoded, decoded and measured here, with the
// module, so that the page stays responsive whatever the file's length. The page sends one
// request at a time ({ id, op, ... }); the answer carries the same id, and long requests send
// progress on the way. "cancel" stops the request under way between two pieces.
'use strict';

/* global createVellox */
importScripts('vellox.js');

const modulePromise = createVellox();
const piece = 1 << 20;  // samples encoded, decoded or measured between two progress reports
const columns = 1200;  // columns of the waveforms
// The most samples the page decodes into memory (512 MiB of them: 50 minutes of 44.1 kHz
// stereo). A header may announce up to 2^31 - 1 whatever the file holds; beyond this the file
// is velloxdec's, which writes the samples as it goes.
const maxDecodedSamples = 1 << 28;

// What the page has opened and made: the samples of a WAV file and its layout, and the
// samples of the ACM file opened or encoded.
const state = { original: null, wav: null, decoded: null };
let cancelled = false;
let queue = Promise.resolve();

self.onmessage = (event) => {
  const request = event.data;
  if (request.op === 'cancel') {
    cancelled = true;
    return;
  }
  queue = queue.then(() => handle(request)).catch((error) => {
    self.postMessage({ id: request.id, op: 'error', message: error.message });
  });
};

function pause() {
  return new Promise((resolve) => setTimeout(resolve, 0));
}

// Reports progress and lets a "cancel" in; throws once one came.
async function progress(id, phase, done, total) {
  self.postMessage({ id: id, op: 'progress', phase: phase, fraction: total > 0 ? done / total : 1 });
  await pause();
  if (cancelled) throw new Error('Cancelled');
}

async function handle(request) {
  cancelled = false;
  const vellox = await modulePromise;
  const handlers = { version: version, open: open, encode: encode, play: play, wav: wav };
  const handler = handlers[request.op];
  if (handler === undefined) throw new Error('unknown request ' + request.op);
  const answer = await handler(vellox, request);
  self.postMessage(Object.assign({ id: request.id, op: 'done' }, answer.message),
                   answer.transfer || []);
}

function version(vellox) {
  return { message: { version: vellox.version } };
}

// The smallest and largest value of each column, over every channel: 2 * columns values.
function peaks(count, valueAt) {
  const result = new Float32Array(2 * columns);
  if (count === 0) return result;
  for (let column = 0; column < columns; ++column) {
    const begin = Math.floor((column * count) / columns);
    const end = Math.max(begin + 1, Math.floor(((column + 1) * count) / columns));
    let low = Infinity;
    let high = -Infinity;
    for (let i = begin; i < end && i < count; ++i) {
      const value = valueAt(i);
      if (value < low) low = value;
      if (value > high) high = value;
    }
    result[2 * column] = low;
    result[2 * column + 1] = high;
  }
  return result;
}

function samplePeaks(samples) {
  return peaks(samples.length, (i) => samples[i]);
}

// Opens a WAV file (read with vellox's reader) or an ACM file (decoded); anything else is
// refused, as the page reads no other format.
async function open(vellox, request) {
  state.original = null;
  state.wav = null;
  state.decoded = null;
  const bytes = new Uint8Array(request.buffer);
  let wav = null;
  try {
    wav = vellox.readWav(bytes);
  } catch (error) {
    if (error.message !== 'Not a WAV file') throw error;
  }
  if (wav !== null) {
    if (wav.samples.length > maxDecodedSamples) {
      throw new Error('The file holds ' + wav.samples.length + ' samples, more than this page ' +
                      'holds (' + maxDecodedSamples + '): convert it with vellox.');
    }
    state.original = wav.samples;
    state.wav = { channels: wav.channels, sampleRate: wav.sampleRate, is16bit: wav.is16bit };
    return {
      message: {
        kind: 'wav', samples: wav.samples.length, channels: wav.channels,
        sampleRate: wav.sampleRate, is16bit: wav.is16bit, peaks: samplePeaks(wav.samples),
      },
    };
  }
  let decoded;
  try {
    decoded = await decodeAcm(bytes, request.id, 'Decoding', null);
  } catch (error) {
    if (error.status !== 14) throw error;
    throw new Error('Neither a WAV nor an ACM file: this page reads only those two; ' +
                    'other formats are the command line\'s job.');
  }
  state.decoded = decoded.samples;
  return {
    message: {
      kind: 'acm', samples: decoded.samples.length, header: decoded.header,
      samplesNotDecoded: decoded.samplesNotDecoded, trailingBytes: decoded.trailingBytes,
      peaks: samplePeaks(decoded.samples),
    },
  };
}

// Decodes an ACM file piece by piece, measuring it against original when that is given.
async function decodeAcm(bytes, id, phase, original) {
  const vellox = await modulePromise;
  const decoder = vellox.createDecoder(bytes);
  const meter = original !== null ? vellox.createMeter() : null;
  try {
    const header = {
      sampleCount: decoder.sampleCount, levels: decoder.levels, subblocks: decoder.subblocks,
      channels: decoder.channels, sampleRate: decoder.sampleRate,
    };
    if (decoder.sampleCount > maxDecodedSamples) {
      throw new Error('The header announces ' + decoder.sampleCount + ' samples, more than ' +
                      'this page holds (' + maxDecodedSamples + '): decode the file with ' +
                      'velloxdec.');
    }
    const samples = new Int16Array(decoder.sampleCount);
    for (let done = 0; done < samples.length;) {
      await progress(id, phase, done, samples.length);
      const part = decoder.read(Math.min(piece, samples.length - done));
      samples.set(part, done);
      if (meter !== null) {
        const compared = Math.min(part.length, Math.max(0, original.length - done));
        meter.add(original.subarray(done, done + compared), part.subarray(0, compared));
      }
      done += part.length;
      if (part.length === 0) break;
    }
    return {
      samples: samples, header: header, samplesNotDecoded: decoder.samplesNotDecoded,
      trailingBytes: decoder.trailingBytes(), quality: meter !== null ? meter.report() : null,
    };
  } finally {
    if (meter !== null) meter.destroy();
    decoder.destroy();
  }
}

// Encodes the WAV file with the page's settings through the streaming encoder, then decodes
// the result and measures it against the original.
async function encode(vellox, request) {
  if (state.original === null) throw new Error('Open a WAV file first');
  const settings = Object.assign({}, request.settings, { inputIs16bit: state.wav.is16bit });
  if (request.taps !== undefined) {
    settings.taps = vellox.readFilterFile(new Uint8Array(request.taps));
  }
  const original = state.original;
  const encoder = vellox.createEncoder(original.length, settings);
  const parts = [encoder.header];
  let end;
  try {
    for (let done = 0; done < original.length; done += piece) {
      await progress(request.id, 'Encoding', done, original.length);
      parts.push(encoder.feed(original.subarray(done, Math.min(done + piece, original.length))));
    }
    await progress(request.id, 'Encoding', original.length, original.length);
    end = encoder.finish();
    parts.push(end.bytes);
  } finally {
    encoder.destroy();
  }
  const acm = new Uint8Array(end.size);
  let at = 0;
  for (const part of parts) {
    acm.set(part, at);
    at += part.length;
  }
  const decoded = await decodeAcm(acm, request.id, 'Decoding for the comparison', original);
  state.decoded = decoded.samples;
  const errorPeaks = peaks(original.length, (i) => original[i] - decoded.samples[i]);
  const file = new Blob([acm], { type: 'application/octet-stream' });
  return {
    message: {
      acm: file, size: end.size, report: end.report + decoded.quality.text,
      quality: decoded.quality, decodedPeaks: samplePeaks(decoded.samples), errorPeaks: errorPeaks,
    },
  };
}

// A stretch of the original or the decoded samples as one Float32Array per channel, for Web
// Audio: from frame start on, frames of them (fewer at the end), the last frame completed
// with zeros.
function play(vellox, request) {
  const samples = request.which === 'original' ? state.original : state.decoded;
  if (samples === null) throw new Error('Nothing to play');
  const channels = request.channels;
  const totalFrames = Math.ceil(samples.length / channels);
  const start = Math.min(request.start, totalFrames);
  const frames = Math.min(request.frames, totalFrames - start);
  const data = [];
  for (let channel = 0; channel < channels; ++channel) {
    const out = new Float32Array(frames);
    let at = start * channels + channel;
    for (let frame = 0; frame < frames; ++frame, at += channels) {
      out[frame] = at < samples.length ? samples[at] / 32768 : 0;
    }
    data.push(out);
  }
  return { message: { data: data }, transfer: data.map((channel) => channel.buffer) };
}

// The samples' bytes in little-endian order, as WAV files store them.
function littleEndian(samples) {
  if (new Uint8Array(new Uint16Array([1]).buffer)[0] === 1) return samples;
  const bytes = new Uint8Array(samples.length * 2);
  for (let i = 0; i < samples.length; ++i) {
    bytes[2 * i] = samples[i] & 0xFF;
    bytes[2 * i + 1] = (samples[i] >> 8) & 0xFF;
  }
  return bytes;
}

// The decoded samples as velloxdec writes them: its WAV header for the layout, the samples,
// and zeros that complete the last frame.
function wav(vellox, request) {
  if (state.decoded === null) throw new Error('Nothing decoded');
  const samples = state.decoded;
  const padding = (request.channels - (samples.length % request.channels)) % request.channels;
  const header = vellox.wavHeader(samples.length + padding, request.channels, request.sampleRate);
  const file = new Blob([header, littleEndian(samples), new Int16Array(padding)],
                        { type: 'audio/wav' });
  return { message: { file: file, padding: padding } };
}
