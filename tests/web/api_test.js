// The web module's API against the native programs: the same bytes as vellox, the same
// samples and WAV files as velloxdec, the same report lines, and every error.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test, before } = require('node:test');

const support = require('./support.js');

let vellox;
before(async () => {
  vellox = await support.createVellox();
});

// The lines vellox prints after the progress marks: the size and the compression rate.
function velloxReport(stdout) {
  return stdout.slice(stdout.indexOf('#\n') + 2);
}

// velloxdec --compare's measures: the lines from "SNR" on.
function velloxdecMeasures(stdout) {
  return stdout.slice(stdout.indexOf('SNR: '));
}

// Feeds samples in pieces of the given sizes, in turn, and gathers every byte written.
function encodeStreamed(samples, options, pieces) {
  const encoder = vellox.createEncoder(samples.length, options);
  try {
    const parts = [encoder.header];
    for (let done = 0, i = 0; done < samples.length; ++i) {
      const n = Math.min(pieces[i % pieces.length], samples.length - done);
      parts.push(encoder.feed(samples.subarray(done, done + n)));
      done += n;
    }
    const end = encoder.finish();
    parts.push(end.bytes);
    const bytes = Buffer.concat(parts);
    assert.equal(end.size, bytes.length);
    return { bytes: new Uint8Array(bytes), report: end.report };
  } finally {
    encoder.destroy();
  }
}

const music = path.join(support.root, 'samples', 'music.wav');

// The command line's settings beside the API's.
const settingCases = [
  { args: [], options: {} },
  { args: ['-q0'], options: { percents: -1 } },
  { args: ['-q', '20', '-hq'], options: { percents: 20, highQuality: true } },
  { args: ['-q', '35.5', '-fo', '40'], options: { percents: 35.5, filter: 'O', filterLength: 40 } },
  { args: ['-l', '0', '-s', '3'], options: { levels: 0, subblocks: 3 } },
  { args: ['-l', '15', '-s', '1'], options: { levels: 15, subblocks: 1 } },
  { args: ['-fd', '806', '-s', '4095', '-l', '2'],
    options: { filter: 'D', filterLength: 806, subblocks: 4095, levels: 2 } },
  { args: ['-c', '1', '-r', '44100'], options: { channels: 1, sampleRate: 44100 } },
];

test('encode and the streamed encoder write vellox\'s bytes and report', () => {
  const wav = vellox.readWav(new Uint8Array(fs.readFileSync(music)));
  for (const { args, options } of settingCases) {
    const expected = support.velloxEncode(music, args);
    const label = 'vellox ' + args.join(' ');
    assert.deepEqual(vellox.encode(wav.samples, options), expected.bytes, label);
    const streamed = encodeStreamed(wav.samples, options, [1, 4999, 65536, 100003]);
    assert.deepEqual(streamed.bytes, expected.bytes, label + ' (streamed)');
    assert.equal(streamed.report, velloxReport(expected.stdout), label + ' (report)');
  }
});

test('coefficients clipped are reported as vellox reports them', () => {
  // Full-scale square waves drive the deep sub-bands past 16 bits.
  const samples = new Int16Array(40000);
  for (let i = 0; i < samples.length; ++i) samples[i] = (i >> 9) % 2 === 0 ? 32767 : -32768;
  const input = support.writeScratch('square.raw', new Uint8Array(samples.buffer));
  const expected = support.velloxEncode(input, ['-l', '12']);
  assert.match(expected.stdout, /coefficients were truncated/);
  const streamed = encodeStreamed(samples, { levels: 12 }, [65536]);
  assert.deepEqual(streamed.bytes, expected.bytes);
  assert.equal(streamed.report, velloxReport(expected.stdout));
});

// WAV layouts the reader takes, made in code, with the header fields they give.
const wavCases = [
  { name: 'pcm8', layout: { tag: 1, bits: 8, channels: 2, rate: 8000 },
    values: (n) => Array.from(support.seededNoise(n, 127, 1), (v) => v + 128) },
  { name: 'pcm24', layout: { tag: 1, bits: 24, channels: 1, rate: 48000 },
    values: (n) => Array.from(support.seededNoise(n, 8388607, 2)) },
  { name: 'float32', layout: { tag: 3, bits: 32, channels: 3, rate: 32000 },
    values: (n) => Array.from(support.seededNoise(n, 20000, 3), (v) => v / 16384) },
  { name: 'extensible16', layout: { tag: 1, bits: 16, channels: 6, rate: 44100, extensible: true },
    values: (n) => Array.from(support.sine(n, 12000, 37)) },
  { name: 'rf64', layout: { tag: 1, bits: 16, channels: 1, rate: 65535, rf64: true },
    values: (n) => Array.from(support.sine(n, 30000, 101)) },
];

test('readWav hands out vellox\'s samples and the file\'s layout', () => {
  for (const { name, layout, values } of wavCases) {
    const bytes = support.makeWav(values(12000), layout);
    const input = support.writeScratch(name + '.wav', bytes);
    const wav = vellox.readWav(bytes);
    assert.equal(wav.channels, layout.channels, name);
    assert.equal(wav.sampleRate, layout.rate, name);
    assert.equal(wav.is16bit, layout.bits !== 8, name);
    // The page's settings: the header's layout from the input, the budget from its width.
    const expected = support.velloxEncode(input, ['-c', String(wav.channels), '-r',
                                                  String(wav.sampleRate)]);
    const options = { channels: wav.channels, sampleRate: wav.sampleRate,
                      inputIs16bit: wav.is16bit };
    assert.deepEqual(vellox.encode(wav.samples, options), expected.bytes, name);
  }
});

test('readWav takes and refuses the repo\'s WAV test files as vellox -wav does', () => {
  const corpus = path.join(support.root, 'tests', 'fuzz', 'corpus', 'sound_source');
  const files = fs.readdirSync(corpus).map((name) => path.join(corpus, name));
  files.push(path.join(support.root, 'samples', 'chirp.wav'), music);
  for (const file of files) {
    const output = support.scratchPath('corpus.acm');
    const result = support.run('vellox', ['-wav', file, output]);
    const bytes = new Uint8Array(fs.readFileSync(file));
    if (result.status === 0) {
      const wav = vellox.readWav(bytes);
      const expected = new Uint8Array(fs.readFileSync(output));
      assert.deepEqual(vellox.encode(wav.samples, { inputIs16bit: wav.is16bit }), expected, file);
    } else {
      const text = support.errorText(result.stderr + result.stdout, file);
      assert.throws(() => vellox.readWav(bytes), { message: text }, file);
    }
  }
});

test('decode and the streamed decoder hand out velloxdec\'s samples; wavHeader its file', () => {
  const samples = support.seededNoise(30001, 9000, 7);
  const input = support.writeScratch('noise.raw', new Uint8Array(samples.buffer));
  for (const channels of [1, 2, 3]) {
    const acm = support.velloxEncode(input, ['-c', String(channels), '-r', '11025']).bytes;
    const acmFile = support.writeScratch('noise.acm', acm);
    const expected = support.velloxdecDecode(acmFile);
    const decoded = vellox.decode(acm);
    assert.equal(decoded.channels, channels);
    assert.equal(decoded.sampleRate, 11025);
    assert.equal(decoded.samplesNotDecoded, 0);
    const padding = (channels - (samples.length % channels)) % channels;
    const wavSamples = support.wavSamples(expected.bytes);
    assert.deepEqual(decoded.samples, wavSamples.subarray(0, samples.length));
    const header = vellox.wavHeader(samples.length + padding, channels, 11025);
    const file = Buffer.concat([header, new Uint8Array(decoded.samples.buffer),
                                new Uint8Array(2 * padding)]);
    assert.deepEqual(new Uint8Array(file), expected.bytes, channels + ' channels');

    const decoder = vellox.createDecoder(acm);
    assert.equal(decoder.sampleCount, samples.length);
    assert.equal(decoder.levels, 7);
    assert.equal(decoder.subblocks, 16);
    const parts = [decoder.read(1), decoder.read(70000), decoder.read(5)];
    assert.equal(parts[2].length, 0);
    assert.deepEqual(new Int16Array(Buffer.concat(parts.map((p) => Buffer.from(p.buffer))).buffer),
                     decoded.samples);
    decoder.destroy();
  }
});

test('a damaged file loses what velloxdec reports it loses', () => {
  const samples = support.sine(200000, 10000, 50);
  const input = support.writeScratch('sine.raw', new Uint8Array(samples.buffer));
  const acm = support.velloxEncode(input, []).bytes;
  const cut = acm.slice(0, acm.length >> 1);
  const expected = support.velloxdecDecode(support.writeScratch('cut.acm', cut));
  const lost = /damaged input: (\d+) of (\d+) samples/.exec(expected.stderr);
  assert.ok(lost, expected.stderr);
  const decoded = vellox.decode(cut);
  assert.equal(decoded.samplesNotDecoded, Number(lost[1]));
  assert.deepEqual(decoded.samples, support.wavSamples(expected.bytes).subarray(0, samples.length));
  const decoder = vellox.createDecoder(cut);
  assert.throws(() => decoder.trailingBytes(), { status: 15 });  // not every sample read yet
  decoder.read(samples.length);
  assert.equal(decoder.samplesNotDecoded, Number(lost[1]));
  assert.equal(decoder.trailingBytes(), 0);
  decoder.destroy();

  // Bytes after the last block, as velloxdec counts them.
  const longer = Buffer.concat([acm, Buffer.alloc(37, 0x5A)]);
  const warned = support.velloxdecDecode(support.writeScratch('longer.acm', longer));
  const trailing = /Warning: (\d+) bytes follow the end of the stream/.exec(warned.stderr);
  assert.ok(trailing, warned.stderr);
  const reader = vellox.createDecoder(new Uint8Array(longer));
  reader.read(samples.length);
  assert.equal(reader.trailingBytes(), Number(trailing[1]));
  reader.destroy();
});

test('compare gives velloxdec --compare\'s lines', () => {
  const wav = vellox.readWav(new Uint8Array(fs.readFileSync(music)));
  for (const args of [[], ['-q', '10'], ['-q0']]) {
    const acm = support.writeScratch('music.acm', support.velloxEncode(music, args).bytes);
    const expected = support.velloxdecDecode(acm, ['--compare', music]);
    const decoded = vellox.decode(new Uint8Array(fs.readFileSync(acm)));
    const report = vellox.compare(wav.samples, decoded.samples);
    assert.equal(report.text, velloxdecMeasures(expected.stdout), args.join(' '));
  }
  // Equal signals, and a silent original beside a decoded one that is not.
  const same = vellox.compare(wav.samples, wav.samples);
  assert.equal(same.snr, Infinity);
  assert.match(same.text, /^SNR: inf dB\nSegmental SNR: 100\.00 dB\nPeak error: 0\n/);
  const silent = vellox.compare(new Int16Array(10), new Int16Array(10).fill(3));
  assert.equal(silent.text, 'SNR: -inf dB\nSegmental SNR: n/a\nPeak error: 3\nCompared samples: 10\n');
  assert.equal(silent.segmentalSnr, null);
});

test('filter files are read as vellox reads them', () => {
  const wav = vellox.readWav(new Uint8Array(fs.readFileSync(music)));
  const text = '5\n-0.01 0.03 -0.08 0.3\n  0.5e0 trailing words are not read\n';
  const file = support.writeScratch('taps.txt', text);
  const taps = vellox.readFilterFile(new TextEncoder().encode(text));
  assert.deepEqual(Array.from(taps), [0.01, 0.03, 0.08, 0.3, 0.5]);
  const expected = support.velloxEncode(music, ['-fc', file]);
  assert.deepEqual(vellox.encode(wav.samples, { filter: 'C', taps: taps }), expected.bytes);
  const refusals = [['x 1 2', 'Bad tap count in file'], ['3 1 2 x', 'Bad numeric format in file'],
                    ['2 1 inf', 'Bad numeric format in file'],
                    ['0', 'the taps must be 1 to 1048576 finite numbers']];
  for (const [content, message] of refusals) {
    assert.throws(() => vellox.readFilterFile(new TextEncoder().encode(content)), { message },
                  content);
  }
});

// The Error of a status: the library's text, and the status itself.
function status(code, message) {
  return (error) => error instanceof Error && error.status === code && error.message === message;
}

test('every failure is an Error carrying the status text', () => {
  const samples = support.sine(5000, 1000, 20);
  const levels = status(2, 'levels must be between 0 and 15');
  const subblocks = status(3, 'subblocks must be between 1 and 4095');
  const filter = status(4, "the filter must be 'D', 'O' or 'C'");
  const length = status(5, "filter_length must be between 3 and 806 for 'D', 3 and 402 for 'O'");
  const taps = status(6, 'the taps must be 1 to 1048576 finite numbers');
  const percents = status(7, 'percents must be above 1 and at most 100, or -1');
  const count = status(8, 'the sample count must be at most 2147483647');
  const format = status(16, 'channels and sample_rate must be between 1 and 65535');
  const refused = [
    [{ levels: -1 }, levels], [{ levels: 16 }, levels], [{ levels: 7.5 }, levels],
    [{ subblocks: 0 }, subblocks], [{ subblocks: 4096 }, subblocks],
    [{ filter: 'X' }, filter], [{ filter: 'DD' }, filter], [{ filter: 68 }, filter],
    [{ filterLength: 2 }, length], [{ filterLength: 807 }, length],
    [{ filter: 'O', filterLength: 403 }, length],
    [{ filter: 'C' }, taps], [{ filter: 'C', taps: [] }, taps], [{ filter: 'C', taps: [NaN] }, taps],
    [{ filter: 'C', taps: ['1'] }, taps],
    [{ percents: 1 }, percents], [{ percents: 100.5 }, percents], [{ percents: NaN }, percents],
    [{ percents: '50' }, percents],
    [{ channels: 0 }, format], [{ channels: 65536 }, format], [{ sampleRate: 0 }, format],
    [{ sampleRate: 65536 }, format], [{ sampleRate: 2 ** 32 }, format],
  ];
  for (const [options, expected] of refused) {
    const label = JSON.stringify(options);
    assert.throws(() => vellox.encode(samples, options), expected, label);
    assert.throws(() => vellox.createEncoder(samples.length, options), expected, label);
  }
  for (const n of [-1, 2 ** 31, 1.5]) assert.throws(() => vellox.createEncoder(n, {}), count);

  const notAcm = status(14, 'not an ACM stream');
  for (const bytes of [new Uint8Array(13), new Uint8Array(100), vellox.encode(samples).slice(0, 13)]) {
    assert.throws(() => vellox.decode(bytes), notAcm);
    assert.throws(() => vellox.createDecoder(bytes), notAcm);
  }

  const tooMany = status(12, 'more samples fed than announced');
  const tooFew = status(13, 'finished before all announced samples were fed');
  const state = status(15, 'called after a failure, after finish, or too early');
  let encoder = vellox.createEncoder(10, {});
  assert.throws(() => encoder.feed(new Int16Array(11)), tooMany);
  encoder.destroy();
  // Finishing early writes nothing: the rest may still be fed.
  encoder = vellox.createEncoder(10, {});
  const early = encoder.feed(new Int16Array(4));
  assert.throws(() => encoder.finish(), tooFew);
  const late = encoder.feed(new Int16Array(6));
  const end = encoder.finish();
  assert.deepEqual(Buffer.concat([encoder.header, early, late, end.bytes]),
                   Buffer.from(vellox.encode(new Int16Array(10))));
  encoder.destroy();
  encoder = vellox.createEncoder(1, {});
  encoder.feed(new Int16Array(1));
  encoder.finish();
  assert.throws(() => encoder.feed(new Int16Array(0)), state);
  assert.throws(() => encoder.finish(), state);
  encoder.destroy();
  assert.throws(() => encoder.feed(new Int16Array(1)), state);
  const decoder = vellox.createDecoder(vellox.encode(samples));
  decoder.destroy();
  decoder.destroy();  // a second time does nothing
  assert.throws(() => decoder.read(1), state);
  const meter = vellox.createMeter();
  meter.destroy();
  assert.throws(() => meter.report(), state);

  // 2^31 - 1 samples in one buffer need more memory than the module may have.
  const huge = new Uint8Array([0x97, 0x28, 3, 1, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0x44, 0xAC, 7, 1]);
  assert.throws(() => vellox.decode(huge), status(9, 'out of memory'));

  assert.throws(() => vellox.readWav(vellox.encode(samples)), { message: 'Not a WAV file' });
  const float16 = support.makeWav([0, 0], { tag: 3, bits: 16, channels: 1, rate: 8000 });
  assert.throws(() => vellox.readWav(float16), { message: 'Unsupported WAV format' });

  assert.throws(() => vellox.encode([1, 2]), TypeError);
  assert.throws(() => vellox.encode(samples, { level: 3 }), TypeError);
  assert.throws(() => vellox.encode(samples, null), TypeError);
  assert.throws(() => vellox.decode(new ArrayBuffer(20)), TypeError);
  assert.throws(() => vellox.readWav('file.wav'), TypeError);
  assert.throws(() => vellox.createMeter().add(new Int16Array(2), new Int16Array(3)), RangeError);
  assert.throws(() => vellox.wavHeader(3, 2, 8000), RangeError);
  assert.throws(() => vellox.wavHeader(2, 0, 8000), RangeError);
});

test('the version is the programs\' version', () => {
  const result = support.run('velloxdec', ['--version']);
  assert.equal('velloxdec ' + vellox.version + '\n', result.stdout);
});
