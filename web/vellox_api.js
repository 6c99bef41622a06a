// The module's JavaScript API, run inside createVellox() once the C code is in place: the C
// API's calls with typed arrays in and out, and an Error carrying the status text (and the
// status as error.status) wherever the C API returns a failure. The streaming calls copy
// samples in and out of the module's memory in pieces, so that it grows with the pieces, not
// with the sound; encode and decode hold the whole signal there, as the C one-call functions
// do.

/* global Module, HEAP8, HEAP16, HEAP32, HEAPU8, HEAPU32, HEAPF64, FS, UTF8ToString,
   stringToUTF8, lengthBytesUTF8, addFunction */

(function () {
  'use strict';

  const status = {
    ok: 0, levels: 2, subblocks: 3, filter: 4, filterLength: 5, taps: 6, percents: 7,
    sampleCount: 8, memory: 9, state: 15, format: 16,
  };
  const piece = 65536;          // samples copied in or out per call
  const maxSamples = 2147483647;  // the largest sample count the format holds
  const maxTaps = 1048576;      // the most "-fc" taps the library takes
  const textCapacity = 512;     // bytes of a report's text

  function statusError(code) {
    const error = new Error(UTF8ToString(_vellox_status_text(code)));
    error.status = code;
    return error;
  }

  function check(code) {
    if (code !== status.ok) throw statusError(code);
  }

  // bytes of the module's memory; freed by the caller. The memory never exceeds 2 GB, and a
  // larger size would wrap in the 32-bit argument.
  function allocate(bytes) {
    if (bytes > maxSamples) throw statusError(status.memory);
    const pointer = _malloc(Math.max(bytes, 1));
    if (pointer === 0) throw statusError(status.memory);
    return pointer;
  }

  function allocateString(text) {
    const size = lengthBytesUTF8(text) + 1;
    const pointer = allocate(size);
    stringToUTF8(text, pointer, size);
    return pointer;
  }

  function requireSamples(samples, what) {
    if (!(samples instanceof Int16Array)) throw new TypeError(what + ' must be an Int16Array');
  }

  function requireBytes(bytes, what) {
    if (!(bytes instanceof Uint8Array)) throw new TypeError(what + ' must be a Uint8Array');
  }

  // A 64-bit count at pointer as a Number (exact below 2^53).
  function readU64(pointer) {
    return HEAPU32[pointer >> 2] + HEAPU32[(pointer >> 2) + 1] * 4294967296;
  }

  function readI64(pointer) {
    return HEAPU32[pointer >> 2] + HEAP32[(pointer >> 2) + 1] * 4294967296;
  }

  // ---- Settings ----

  // sizeof(vellox_settings) and the fields' offsets, as the C compiler laid them out.
  let layout = null;

  function settingsLayout() {
    if (layout === null) {
      const at = _vellox_web_settings_layout() >> 2;
      const offsets = HEAP32.subarray(at, at + 12);
      layout = {
        size: offsets[0], levels: offsets[1], subblocks: offsets[2], filter: offsets[3],
        filterLength: offsets[4], taps: offsets[5], tapCount: offsets[6], percents: offsets[7],
        inputIs16bit: offsets[8], highQuality: offsets[9], channels: offsets[10],
        sampleRate: offsets[11],
      };
    }
    return layout;
  }

  // An integer setting, or the Error its field's status gives: a value that is no integer is
  // out of range like any other.
  function integerSetting(value, code, low, high) {
    if (!Number.isInteger(value) || value < low || value > high) throw statusError(code);
    return value;
  }

  const intLow = -2147483648;
  const intHigh = 2147483647;

  // The settings of options in the module's memory: { pointer, taps } to free with
  // freeSettings. Options not given keep the program's defaults.
  function makeSettings(options) {
    if (options === null || typeof options !== 'object') {
      throw new TypeError('options must be an object');
    }
    const at = settingsLayout();
    const made = { pointer: allocate(at.size), taps: 0 };
    try {
      const p = made.pointer;
      _vellox_settings_init_size(p, at.size);
      for (const name of Object.keys(options)) {
        const value = options[name];
        if (value === undefined) continue;
        switch (name) {
          case 'levels':
            HEAP32[(p + at.levels) >> 2] = integerSetting(value, status.levels, intLow, intHigh);
            break;
          case 'subblocks':
            HEAP32[(p + at.subblocks) >> 2] =
                integerSetting(value, status.subblocks, intLow, intHigh);
            break;
          case 'filter':
            if (typeof value !== 'string' || value.length !== 1 || value.charCodeAt(0) > 127) {
              throw statusError(status.filter);
            }
            HEAP8[p + at.filter] = value.charCodeAt(0);
            break;
          case 'filterLength':
            HEAP32[(p + at.filterLength) >> 2] =
                integerSetting(value, status.filterLength, intLow, intHigh);
            break;
          case 'taps': {
            if (value === null || typeof value.length !== 'number' || value.length > maxTaps) {
              throw statusError(status.taps);
            }
            made.taps = allocate(value.length * 8);
            for (let i = 0; i < value.length; ++i) {
              if (typeof value[i] !== 'number') throw statusError(status.taps);
              HEAPF64[(made.taps >> 3) + i] = value[i];
            }
            HEAP32[(p + at.taps) >> 2] = made.taps;
            HEAP32[(p + at.tapCount) >> 2] = value.length;
            break;
          }
          case 'percents':
            if (typeof value !== 'number') throw statusError(status.percents);
            HEAPF64[(p + at.percents) >> 3] = value;
            break;
          case 'inputIs16bit':
            HEAP32[(p + at.inputIs16bit) >> 2] = value ? 1 : 0;
            break;
          case 'highQuality':
            HEAP32[(p + at.highQuality) >> 2] = value ? 1 : 0;
            break;
          case 'channels':
            HEAP32[(p + at.channels) >> 2] = integerSetting(value, status.format, intLow, intHigh);
            break;
          case 'sampleRate':
            HEAPU32[(p + at.sampleRate) >> 2] = integerSetting(value, status.format, 0, 4294967295);
            break;
          default:
            throw new TypeError("unknown option '" + name + "'");
        }
      }
    } catch (error) {
      freeSettings(made);
      throw error;
    }
    return made;
  }

  function freeSettings(made) {
    _free(made.taps);
    _free(made.pointer);
  }

  function checkSampleCount(count) {
    if (!Number.isInteger(count) || count < 0 || count > maxSamples) {
      throw statusError(status.sampleCount);
    }
  }

  // ---- One call each way ----

  function encode(samples, options) {
    requireSamples(samples, 'samples');
    checkSampleCount(samples.length);
    const settings = makeSettings(options === undefined ? {} : options);
    let input = 0;
    let out = 0;
    try {
      input = allocate(samples.length * 2);
      HEAP16.set(samples, input >> 1);
      out = allocate(8);  // the file's pointer, then its size
      check(_vellox_encode_memory(settings.pointer, input, samples.length, out, out + 4));
      const bytes = HEAPU32[out >> 2];
      const result = HEAPU8.slice(bytes, bytes + HEAPU32[(out >> 2) + 1]);
      _vellox_free(bytes);
      return result;
    } finally {
      _free(out);
      _free(input);
      freeSettings(settings);
    }
  }

  // The header's fields of an open decoder.
  function headerOf(decoder) {
    return {
      sampleCount: _vellox_decoder_sample_count(decoder) >>> 0,
      levels: _vellox_decoder_levels(decoder),
      subblocks: _vellox_decoder_subblocks(decoder),
      channels: _vellox_decoder_channels(decoder),
      sampleRate: _vellox_decoder_sample_rate(decoder) >>> 0,
    };
  }

  function copyIn(bytes) {
    const pointer = allocate(bytes.length);
    HEAPU8.set(bytes, pointer);
    return pointer;
  }

  function decode(acm) {
    requireBytes(acm, 'acm');
    let data = 0;
    let out = 0;
    let decoder = 0;
    try {
      data = copyIn(acm);
      out = allocate(16);  // the samples' pointer, their count, then the samples not decoded
      check(_vellox_decode_memory(data, acm.length, out, out + 4, out + 8));
      const pointer = HEAPU32[out >> 2];
      const samples = HEAP16.slice(pointer >> 1, (pointer >> 1) + HEAPU32[(out >> 2) + 1]);
      _vellox_free(pointer);
      check(_vellox_decoder_open_memory(data, acm.length, out));
      decoder = HEAPU32[out >> 2];
      const header = headerOf(decoder);
      return {
        samples: samples, channels: header.channels, sampleRate: header.sampleRate,
        samplesNotDecoded: readU64(out + 8),
      };
    } finally {
      _vellox_decoder_destroy(decoder);
      _free(out);
      _free(data);
    }
  }

  // ---- Streaming ----

  // The encoders' bytes, by the number each encoder hands its write function.
  const sinks = new Map();
  let nextSink = 1;
  let writeFunction = 0;

  function sharedWriteFunction() {
    if (writeFunction === 0) {
      writeFunction = addFunction(function (user, bytes, size) {
        const sink = sinks.get(user);
        if (sink === undefined) return 1;
        sink.push(HEAPU8.slice(bytes, bytes + size));
        return 0;
      }, 'iiii');
    }
    return writeFunction;
  }

  function concatenate(parts) {
    let size = 0;
    for (const part of parts) size += part.length;
    const whole = new Uint8Array(size);
    let at = 0;
    for (const part of parts) {
      whole.set(part, at);
      at += part.length;
    }
    parts.length = 0;
    return whole;
  }

  function createEncoder(sampleCount, options) {
    checkSampleCount(sampleCount);
    const opts = options === undefined ? {} : options;
    const settings = makeSettings(opts);
    const sink = nextSink++;
    const parts = [];
    let encoder = 0;
    let staging = 0;
    sinks.set(sink, parts);
    try {
      staging = allocate(piece * 2 + 16);
      check(_vellox_encoder_create(settings.pointer, sampleCount, sharedWriteFunction(), sink,
                                   staging));
      encoder = HEAPU32[staging >> 2];
    } catch (error) {
      sinks.delete(sink);
      _free(staging);
      throw error;
    } finally {
      freeSettings(settings);  // the taps are borrowed only until the encoder is made
    }
    const header = concatenate(parts);
    const is16bit = opts.inputIs16bit === undefined || Boolean(opts.inputIs16bit);
    let finished = false;

    function live() {
      if (encoder === 0) throw statusError(status.state);
    }

    return {
      // The 14-byte header, written when the encoder was made.
      header: header,
      // Encodes samples (an Int16Array of any length); returns the bytes written meanwhile.
      feed(samples) {
        requireSamples(samples, 'samples');
        live();
        // At least one call, so that feeding nothing is checked like any other feed.
        let done = 0;
        do {
          const part = samples.subarray(done, Math.min(done + piece, samples.length));
          HEAP16.set(part, staging >> 1);
          check(_vellox_encoder_feed(encoder, staging, part.length));
          done += part.length;
        } while (done < samples.length);
        return concatenate(parts);
      },
      // Ends the file: { bytes (the last ones), size (of the whole file), clipping, report }.
      finish() {
        live();
        check(_vellox_encoder_finish(encoder, staging));
        const size = readU64(staging);
        _vellox_encoder_clipping(encoder, staging, staging + 8);
        const clipping = { count: readU64(staging), extreme: readI64(staging + 8) };
        finished = true;
        _vellox_web_encode_report(size, sampleCount, is16bit ? 1 : 0, clipping.count,
                                  clipping.extreme, staging, piece * 2);
        return {
          bytes: concatenate(parts), size: size, clipping: clipping,
          report: UTF8ToString(staging),
        };
      },
      get finished() { return finished; },
      destroy() {
        _vellox_encoder_destroy(encoder);
        encoder = 0;
        _free(staging);
        staging = 0;
        sinks.delete(sink);
      },
    };
  }

  function createDecoder(acm) {
    requireBytes(acm, 'acm');
    let data = copyIn(acm);
    let staging = 0;
    let decoder = 0;
    try {
      staging = allocate(piece * 2 + 8);
      check(_vellox_decoder_open_memory(data, acm.length, staging));
      decoder = HEAPU32[staging >> 2];
    } catch (error) {
      _free(staging);
      _free(data);
      throw error;
    }
    const header = headerOf(decoder);

    function live() {
      if (decoder === 0) throw statusError(status.state);
    }

    return {
      sampleCount: header.sampleCount,
      levels: header.levels,
      subblocks: header.subblocks,
      channels: header.channels,
      sampleRate: header.sampleRate,
      // The next samples, at most count of them: fewer only at the end.
      read(count) {
        live();
        checkSampleCount(count);
        const parts = [];
        let total = 0;
        while (total < count) {
          const n = Math.min(piece, count - total);
          check(_vellox_decoder_read(decoder, staging + 8, n, staging));
          const got = HEAPU32[staging >> 2];
          parts.push(HEAP16.slice((staging + 8) >> 1, ((staging + 8) >> 1) + got));
          total += got;
          if (got < n) break;
        }
        const samples = new Int16Array(total);
        let at = 0;
        for (const part of parts) {
          samples.set(part, at);
          at += part.length;
        }
        return samples;
      },
      // Of the samples read so far, those that damage cost.
      get samplesNotDecoded() {
        live();
        return Number(_vellox_decoder_samples_not_decoded(decoder));
      },
      // Once every sample was read: the bytes that follow the stream's last block.
      trailingBytes() {
        live();
        check(_vellox_decoder_trailing_bytes(decoder, staging));
        return readU64(staging);
      },
      destroy() {
        _vellox_decoder_destroy(decoder);
        decoder = 0;
        _free(staging);
        staging = 0;
        _free(data);
        data = 0;
      },
    };
  }

  // ---- The programs' readers, measures and header ----

  let fileNumber = 0;

  // Puts bytes in the module's file system as a new file; returns its name.
  function writeTemporaryFile(bytes) {
    const path = '/vellox-input-' + (++fileNumber);
    const stream = FS.open(path, 'w');
    try {
      FS.write(stream, bytes, 0, bytes.length, 0, /* canOwn */ true);
    } finally {
      FS.close(stream);
    }
    return path;
  }

  function readWav(bytes) {
    requireBytes(bytes, 'bytes');
    const path = writeTemporaryFile(bytes);
    let name = 0;
    let info = 0;
    let source = 0;
    let buffer = 0;
    try {
      name = allocateString(path);
      info = allocate(16);
      source = _vellox_web_wav_open(name, info, info);
      if (source === 0) throw new Error(UTF8ToString(HEAPU32[info >> 2]));
      const total = HEAP32[info >> 2];
      const result = {
        samples: new Int16Array(total), channels: HEAP32[(info >> 2) + 1],
        sampleRate: HEAPU32[(info >> 2) + 2], is16bit: HEAP32[(info >> 2) + 3] !== 0,
      };
      buffer = allocate(piece * 2);
      for (let done = 0; done < total;) {
        const n = Math.min(piece, total - done);
        const got = _vellox_web_wav_read(source, buffer, n, info);
        if (got < 0) throw new Error(UTF8ToString(HEAPU32[info >> 2]));
        result.samples.set(HEAP16.subarray(buffer >> 1, (buffer >> 1) + n), done);
        done += n;
      }
      return result;
    } finally {
      _free(buffer);
      _vellox_web_wav_close(source);
      _free(info);
      _free(name);
      FS.unlink(path);
    }
  }

  function readFilterFile(bytes) {
    requireBytes(bytes, 'bytes');
    const path = writeTemporaryFile(bytes);
    let name = 0;
    let out = 0;
    try {
      name = allocateString(path);
      out = allocate(8);  // the count, then the error text
      const taps = _vellox_web_filter_taps(name, out, out + 4);
      if (taps === 0) throw new Error(UTF8ToString(HEAPU32[(out >> 2) + 1]));
      const result = HEAPF64.slice(taps >> 3, (taps >> 3) + HEAP32[out >> 2]);
      _vellox_web_filter_taps_free(taps);
      return result;
    } finally {
      _free(out);
      _free(name);
      FS.unlink(path);
    }
  }

  function createMeter() {
    const meter = _vellox_web_meter_create();
    if (meter === 0) throw statusError(status.memory);
    let staging = 0;
    try {
      staging = allocate(piece * 4 + 64 + textCapacity);
    } catch (error) {
      _vellox_web_meter_destroy(meter);
      throw error;
    }
    const original = staging;
    const decoded = staging + piece * 2;
    const values = staging + piece * 4;
    const text = values + 64;
    let live = true;

    return {
      // Takes the next samples of both signals (the same length); frames run on across calls.
      add(originalSamples, decodedSamples) {
        requireSamples(originalSamples, 'original');
        requireSamples(decodedSamples, 'decoded');
        if (originalSamples.length !== decodedSamples.length) {
          throw new RangeError('original and decoded must have the same length');
        }
        if (!live) throw statusError(status.state);
        for (let done = 0; done < originalSamples.length; done += piece) {
          const end = Math.min(done + piece, originalSamples.length);
          HEAP16.set(originalSamples.subarray(done, end), original >> 1);
          HEAP16.set(decodedSamples.subarray(done, end), decoded >> 1);
          _vellox_web_meter_add(meter, original, decoded, end - done);
        }
      },
      // velloxdec's measures of what was added, and its report lines as text.
      report() {
        if (!live) throw statusError(status.state);
        _vellox_web_meter_report(meter, values, text, textCapacity);
        const at = values >> 3;
        return {
          snr: HEAPF64[at], segmentalSnr: HEAPF64[at + 2] > 0 ? HEAPF64[at + 1] : null,
          segmentalFrames: HEAPF64[at + 2], peakError: HEAPF64[at + 3], compared: HEAPF64[at + 4],
          text: UTF8ToString(text),
        };
      },
      destroy() {
        if (!live) return;
        live = false;
        _vellox_web_meter_destroy(meter);
        _free(staging);
      },
    };
  }

  // velloxdec --compare over the samples both have.
  function compare(original, decoded) {
    requireSamples(original, 'original');
    requireSamples(decoded, 'decoded');
    const n = Math.min(original.length, decoded.length);
    const meter = createMeter();
    try {
      meter.add(original.subarray(0, n), decoded.subarray(0, n));
      return meter.report();
    } finally {
      meter.destroy();
    }
  }

  // velloxdec's WAV header for sampleCount samples, a whole number of frames.
  function wavHeader(sampleCount, channels, sampleRate) {
    if (!Number.isInteger(channels) || channels < 1 || channels > 65535) {
      throw new RangeError('channels must be between 1 and 65535');
    }
    if (!Number.isInteger(sampleRate) || sampleRate < 1 ||
        sampleRate * 2 * channels > 4294967295) {
      throw new RangeError('sampleRate must be between 1 and 2^32 / (2 * channels)');
    }
    if (!Number.isInteger(sampleCount) || sampleCount < 0 || sampleCount % channels !== 0 ||
        sampleCount > 4294967296) {
      throw new RangeError('sampleCount must be a whole number of frames');
    }
    const header = allocate(80);
    try {
      const size = _vellox_web_wav_header(channels, sampleRate, sampleCount, header);
      return HEAPU8.slice(header, header + size);
    } finally {
      _free(header);
    }
  }

  Object.defineProperty(Module, 'version', {
    get() { return UTF8ToString(_vellox_version()); },
    enumerable: true,
  });
  Object.assign(Module, {
    encode: encode, decode: decode, readWav: readWav, createEncoder: createEncoder,
    createDecoder: createDecoder, readFilterFile: readFilterFile, createMeter: createMeter,
    compare: compare, wavHeader: wavHeader,
  });
})();
