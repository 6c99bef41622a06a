// The page: opens files, sends them with the settings to the worker (worker.js), which does
// all the work with the module, and shows, plays and offers for download what comes back.
// body's data-state tells what the page is doing: idle, busy, encoded, decoded or failed;
// data-finished counts the pieces of work that ended, so that a test knows when one did.
'use strict';

const worker = new Worker('worker.js');
const pending = new Map();  // the requests under way, by id: { resolve, reject }
let nextRequest = 1;

// The header layouts velloxdec writes WAV files in, and plays here.
const wavChannels = { low: 1, high: 16 };
const wavRate = { low: 1, high: 1000000 };
// Web Audio's limits on a buffer.
const audioRate = { low: 3000, high: 768000 };
const audioChannels = 32;

const page = {
  name: '',             // the opened file's name
  samples: 0,           // sample count of the opened file
  wav: null,            // the WAV file's layout: { channels, sampleRate, is16bit }
  originalPeaks: null,  // the WAV file's waveform
  acmUrl: null,         // the encoded file, for its download link
  audio: null,      // the AudioContext, made on the first play
  playing: [],      // the AudioBufferSourceNodes started
  timers: [],       // the timers that say what plays
};

function $(id) {
  return document.getElementById(id);
}

// Every state but busy ends a piece of work: data-finished counts them.
function setState(state) {
  const body = document.body;
  body.dataset.state = state;
  if (state !== 'busy') body.dataset.finished = Number(body.dataset.finished || 0) + 1;
}

worker.onmessage = (event) => {
  const message = event.data;
  const request = pending.get(message.id);
  if (request === undefined) return;
  if (message.op === 'progress') {
    $('progress').value = message.fraction;
    $('progress-text').textContent =
        message.phase + ' ' + Math.floor(message.fraction * 100) + ' %';
    return;
  }
  pending.delete(message.id);
  if (message.op === 'error') request.reject(new Error(message.message));
  else request.resolve(message);
};

worker.onerror = (event) => {
  showError('The worker failed: ' + event.message);
};

// Sends a request to the worker; resolves with its answer.
function ask(op, fields, transfer) {
  const id = nextRequest++;
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve: resolve, reject: reject });
    worker.postMessage(Object.assign({ id: id, op: op }, fields), transfer || []);
  });
}

// Runs a long request with the progress bar shown and the controls that start work disabled.
async function busy(work) {
  setState('busy');
  $('error').textContent = '';
  $('progress').value = 0;
  $('progress-text').textContent = '';
  $('progress-section').hidden = false;
  for (const id of ['file', 'encode']) $(id).disabled = true;
  try {
    return await work();
  } finally {
    $('progress-section').hidden = true;
    for (const id of ['file', 'encode']) $(id).disabled = false;
  }
}

function showError(text) {
  $('error').textContent = text;
  setState('failed');
}

function inRange(value, range) {
  return Number.isInteger(value) && value >= range.low && value <= range.high;
}

function baseName(name) {
  return name.replace(/\.[^.]*$/, '') || name;
}

function count(n, word) {
  return n + ' ' + word + (n === 1 ? '' : 's');
}

function duration(samples, channels, rate) {
  if (!(channels > 0 && rate > 0)) return '';
  const seconds = samples / channels / rate;
  const minutes = Math.floor(seconds / 60);
  return minutes + ':' + (seconds - minutes * 60).toFixed(1).padStart(4, '0');
}

// ---- Opening ----

async function openFile(file) {
  if (file === undefined || document.body.dataset.state === 'busy') return;
  stop();
  for (const id of ['input-info', 'encode-section', 'result-section']) $(id).hidden = true;
  try {
    const opened = await busy(async () => {
      const buffer = await file.arrayBuffer();
      return ask('open', { name: file.name, buffer: buffer }, [buffer]);
    });
    page.name = file.name;
    page.samples = opened.samples;
    if (opened.kind === 'wav') showWav(opened);
    else showAcm(opened);
  } catch (error) {
    showError(file.name + ': ' + error.message);
  }
}

function showWav(opened) {
  page.wav = { channels: opened.channels, sampleRate: opened.sampleRate, is16bit: opened.is16bit };
  const info = $('input-info');
  info.hidden = false;
  // 8-bit samples count 8 bits each for the size target, as the command line counts them.
  info.textContent = page.name + ': WAV, ' + count(opened.samples, 'sample') +
      (opened.is16bit ? '' : ' of 8 bits') + ', ' + count(opened.channels, 'channel') +
      ' at ' + opened.sampleRate + ' Hz, ' +
      duration(opened.samples, opened.channels, opened.sampleRate);
  $('channels').value = opened.channels;
  $('sample-rate').value = opened.sampleRate;
  $('encode-section').hidden = false;
  page.originalPeaks = opened.peaks;
  updateCommand();
  setState('idle');
}

// velloxdec's layout for a header: its own, unless a field lies outside the WAV file's
// ranges (a damaged file), which gives 2 channels at 22050 Hz.
function decoderLayout(header) {
  const usable = inRange(header.channels, wavChannels) && inRange(header.sampleRate, wavRate);
  return usable ? { channels: header.channels, sampleRate: header.sampleRate, replaced: false }
                : { channels: 2, sampleRate: 22050, replaced: true };
}

function showAcm(opened) {
  page.wav = null;
  const header = opened.header;
  const info = $('input-info');
  info.hidden = false;
  info.textContent = page.name + ': ACM, ' + count(header.sampleCount, 'sample') +
      ', levels ' + header.levels + ', subblocks ' + header.subblocks + '; the header says ' +
      count(header.channels, 'channel') + ' at ' + header.sampleRate + ' Hz';
  $('encode-section').hidden = true;
  $('result-title').textContent = 'Decoded';
  $('download-acm').hidden = true;
  $('report').hidden = true;
  showLayout(header, opened.samplesNotDecoded, opened.trailingBytes);
  $('play-original').hidden = true;
  $('play-both').hidden = true;
  $('wave-original').hidden = true;
  $('wave-error').hidden = true;
  drawWave($('wave-decoded'), opened.peaks, 32768);
  $('result-section').hidden = false;
  setState('decoded');
}

// The layout fields, with velloxdec's warnings for a damaged header, lost samples and bytes
// after the stream.
function showLayout(header, samplesNotDecoded, trailingBytes) {
  const layout = decoderLayout(header);
  $('play-channels').value = layout.channels;
  $('play-rate').value = layout.sampleRate;
  $('layout').hidden = false;
  const warnings = [];
  if (layout.replaced) {
    warnings.push('Warning: the header says ' + header.channels + ' channels at ' +
                  header.sampleRate + ' Hz; writing 2 channels at 22050 Hz');
  }
  if (samplesNotDecoded > 0) {
    warnings.push('Warning: damaged input: ' + samplesNotDecoded + ' of ' + header.sampleCount +
                  ' samples could not be decoded');
  }
  if (trailingBytes > 0) {
    warnings.push('Warning: ' + trailingBytes + ' bytes follow the end of the stream');
  }
  $('warning').textContent = warnings.join('\n');
}

// ---- Settings ----

function settings() {
  const exact = $('exact').checked;
  const filter = $('filter').value;
  const result = {
    percents: exact ? -1 : Number($('percents').value),
    highQuality: $('high-quality').checked,
    levels: Number($('levels').value),
    subblocks: Number($('subblocks').value),
    filter: filter,
    channels: Number($('channels').value),
    sampleRate: Number($('sample-rate').value),
  };
  if (filter !== 'C') result.filterLength = Number($('filter-length').value);
  return result;
}

// The vellox command line that writes the same file.
function updateCommand() {
  const filter = $('filter').value;
  $('filter-length-label').hidden = filter === 'C';
  $('taps-label').hidden = filter !== 'C';
  $('filter-range').textContent = filter === 'O' ? '3 to 402' : '3 to 806';
  $('filter-length').max = filter === 'O' ? 402 : 806;
  $('percents').disabled = $('exact').checked;
  const words = ['vellox', page.name || 'input.wav', baseName(page.name || 'input.wav') + '.acm'];
  words.push(...($('exact').checked ? ['-q0'] : ['-q', $('percents').value]));
  if ($('high-quality').checked) words.push('-hq');
  words.push('-l', $('levels').value, '-s', $('subblocks').value);
  if (filter === 'C') {
    const taps = $('taps-file').files[0];
    words.push('-fc', taps !== undefined ? taps.name : 'taps.txt');
  } else {
    words.push(filter === 'O' ? '-fo' : '-fd', $('filter-length').value);
  }
  words.push('-c', $('channels').value, '-r', $('sample-rate').value);
  $('command').textContent = words.map(quoteWord).join(' ');
}

function quoteWord(word) {
  return /^[\w.,/+=:-]+$/.test(word) ? word : "'" + word.replace(/'/g, "'\\''") + "'";
}

async function encode(event) {
  event.preventDefault();
  stop();
  $('settings-error').textContent = '';
  const fields = { settings: settings() };
  const transfer = [];
  if (fields.settings.filter === 'C') {
    const taps = $('taps-file').files[0];
    if (taps === undefined) {
      $('settings-error').textContent = 'Choose the file of taps for -fc.';
      return;
    }
    fields.taps = await taps.arrayBuffer();
    transfer.push(fields.taps);
  }
  let encoded;
  try {
    encoded = await busy(() => ask('encode', fields, transfer));
  } catch (error) {
    showError(error.message);
    return;
  }
  if (page.acmUrl !== null) URL.revokeObjectURL(page.acmUrl);
  page.acmUrl = URL.createObjectURL(encoded.acm);
  const link = $('download-acm');
  link.href = page.acmUrl;
  link.download = baseName(page.name) + '.acm';
  link.textContent = 'Download ' + link.download + ' (' + encoded.size + ' bytes)';
  link.hidden = false;
  $('result-title').textContent = 'Result';
  $('report').textContent = encoded.report;
  $('report').hidden = false;
  const header = {
    sampleCount: page.samples, channels: fields.settings.channels,
    sampleRate: fields.settings.sampleRate,
  };
  showLayout(header, 0, 0);
  $('play-original').hidden = false;
  $('play-both').hidden = false;
  $('wave-original').hidden = false;
  $('wave-error').hidden = false;
  drawWave($('wave-original'), page.originalPeaks, 32768);
  drawWave($('wave-decoded'), encoded.decodedPeaks, 32768);
  const peak = encoded.quality.peakError;
  const scale = errorScale(encoded.errorPeaks);
  drawWave($('wave-error'), encoded.errorPeaks, scale);
  $('error-scale').textContent = peak === 0 ? 'none: the samples are equal'
      : 'drawn ' + (32768 / scale).toFixed(1) + ' times larger than the signals (peak error ' +
        peak + (scale < peak ? ', the highest columns cut off' : '') + ')';
  $('result-section').hidden = false;
  setState('encoded');
}

// ---- Waveforms ----

// The error's full scale: what 99 % of the columns stay within, so that a few clicks (at the
// very start, say) do not flatten the rest.
function errorScale(peaks) {
  const magnitudes = [];
  for (let column = 0; column < peaks.length / 2; ++column) {
    magnitudes.push(Math.max(Math.abs(peaks[2 * column]), Math.abs(peaks[2 * column + 1])));
  }
  magnitudes.sort((a, b) => a - b);
  const scale = magnitudes[Math.floor((magnitudes.length - 1) * 0.99)] || 0;
  return Math.max(scale, 1);
}

// Draws each column's smallest and largest value, full scale at +-scale.
function drawWave(figure, peaks, scale) {
  const canvas = figure.querySelector('canvas');
  const context = canvas.getContext('2d');
  const width = canvas.width;
  const height = canvas.height;
  context.fillStyle = '#f4f6f8';
  context.fillRect(0, 0, width, height);
  context.fillStyle = '#c8ced6';
  context.fillRect(0, height / 2, width, 1);
  context.fillStyle = figure.id === 'wave-error' ? '#c0392b' : '#2c6fbb';
  const columns = peaks.length / 2;
  const y = (value) => height / 2 - (Math.max(-1, Math.min(1, value / scale))) * (height / 2 - 1);
  for (let column = 0; column < columns; ++column) {
    const top = y(peaks[2 * column + 1]);
    const bottom = y(peaks[2 * column]);
    const x = Math.floor((column * width) / columns);
    context.fillRect(x, Math.floor(top), Math.max(1, Math.ceil(width / columns)),
                     Math.max(1, Math.ceil(bottom - top)));
  }
}

// ---- Listening ----

// The layout a signal plays in: the original's from the WAV file, the decoded one's from the
// layout fields.
function playLayout(which) {
  if (which === 'original') return { channels: page.wav.channels, sampleRate: page.wav.sampleRate };
  return { channels: Number($('play-channels').value), sampleRate: Number($('play-rate').value) };
}

async function audioBuffer(which) {
  const layout = playLayout(which);
  if (!inRange(layout.channels, { low: 1, high: audioChannels }) ||
      !inRange(layout.sampleRate, audioRate)) {
    throw new Error('Web Audio plays 1 to ' + audioChannels + ' channels at ' + audioRate.low +
                    ' to ' + audioRate.high + ' Hz, not ' + layout.channels + ' at ' +
                    layout.sampleRate + ' Hz');
  }
  const start = Math.floor(Math.max(0, Number($('from').value) || 0) * layout.sampleRate);
  const length = Number($('length').value);
  const frames = Math.ceil((length > 0 ? length : 0) * layout.sampleRate);
  const answer = await ask('play', { which: which, channels: layout.channels, start: start,
                                     frames: frames });
  if (answer.data[0].length === 0) throw new Error('Nothing to play from there');
  if (page.audio === null) page.audio = new AudioContext();
  const buffer = page.audio.createBuffer(layout.channels, answer.data[0].length,
                                         layout.sampleRate);
  answer.data.forEach((data, channel) => buffer.copyToChannel(data, channel));
  return buffer;
}

function stop() {
  for (const source of page.playing) source.stop();
  for (const timer of page.timers) clearTimeout(timer);
  page.playing = [];
  page.timers = [];
  $('playing').textContent = '';
}

const names = { original: 'the original', decoded: 'the decoded result' };

// Plays the signals one after the other, half a second apart.
async function play(order) {
  stop();
  $('error').textContent = '';
  try {
    const buffers = [];
    for (const which of order) buffers.push(await audioBuffer(which));
    await page.audio.resume();
    let at = page.audio.currentTime + 0.1;
    const begin = at;
    buffers.forEach((buffer, i) => {
      const source = page.audio.createBufferSource();
      source.buffer = buffer;
      source.connect(page.audio.destination);
      source.start(at);
      page.playing.push(source);
      page.timers.push(setTimeout(() => {
        $('playing').textContent = 'Playing ' + names[order[i]];
      }, (at - begin) * 1000));
      at += buffer.duration + 0.5;
    });
    page.timers.push(setTimeout(() => { $('playing').textContent = ''; }, (at - begin) * 1000));
  } catch (error) {
    $('error').textContent = error.message;
  }
}

async function downloadWav() {
  const channels = Number($('play-channels').value);
  const sampleRate = Number($('play-rate').value);
  if (!inRange(channels, wavChannels) || !inRange(sampleRate, wavRate)) {
    $('error').textContent = 'A WAV file here has 1 to 16 channels at 1 to 1000000 Hz.';
    return;
  }
  try {
    const answer = await ask('wav', { channels: channels, sampleRate: sampleRate });
    const link = document.createElement('a');
    link.href = URL.createObjectURL(answer.file);
    link.download = baseName(page.name) + '.wav';
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  } catch (error) {
    $('error').textContent = error.message;
  }
}

// ---- Wiring ----

function wire() {
  $('file').addEventListener('change', () => openFile($('file').files[0]));
  // A file dropped anywhere is opened here: never by the browser itself.
  window.addEventListener('dragover', (event) => {
    event.preventDefault();
    $('drop').classList.add('over');
  });
  window.addEventListener('dragleave', () => $('drop').classList.remove('over'));
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    $('drop').classList.remove('over');
    openFile(event.dataTransfer.files[0]);
  });
  $('settings').addEventListener('submit', encode);
  $('settings').addEventListener('input', updateCommand);
  $('settings').addEventListener('change', updateCommand);
  $('cancel').addEventListener('click', () => worker.postMessage({ op: 'cancel' }));
  $('play-original').addEventListener('click', () => play(['original']));
  $('play-decoded').addEventListener('click', () => play(['decoded']));
  $('play-both').addEventListener('click', () => play(['original', 'decoded']));
  $('stop').addEventListener('click', stop);
  $('download-wav').addEventListener('click', downloadWav);
  ask('version', {}).then((answer) => { $('version').textContent = answer.version; });
  updateCommand();
  setState('idle');
}

wire();
