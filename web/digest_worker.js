// A digest worker of the page: it digests the batches of files it is handed. Files up to
// WHOLE bytes are read ahead whole, several at once (as the browser reads fastest), and
// digested by the check's own concurrent digest in the WebAssembly module, several at once
// in the SIMD lanes (the scalar MD5 where SIMD is missing), its platform calls answered from
// what was read. A larger file is read as a stream and digested with the scalar MD5 as its
// pieces come: the browser hands over a stream no faster than that MD5 digests it. The check
// itself decides which files, in what order, and what their digests mean.
'use strict';

const WHOLE = 8 << 20;   // files read ahead whole
const PIECE = 1 << 20;   // bytes of a stream handed to the MD5 at a time
const AT_ONCE = 4;       // files read at once
const NOT_OPENED = 1;    // the digest's outcomes (DigestOutcome)
const READ_FAILED = 2;
let wasm = null;
let lanes = 0;
let buffer = 0;
let ready = null;
let total = 0;
let lastPost = 0;
let batch = [];          // the files read ahead, being digested: {file, data, error}
const handles = new Map();
let nextHandle = 1;
const utf8Decoder = new TextDecoder();

function view(ptr, length) { return new Uint8Array(wasm.memory.buffer, ptr, length); }

function report(force) {
  const now = performance.now();
  if (!force && now - lastPost < 100) return;
  lastPost = now;
  postMessage({type: 'read', bytes: total});
}

// The platform calls of the concurrent digest, for files named by their index in `batch`.
const platform = {
  open(ptr, length) {
    const task = batch[Number(utf8Decoder.decode(view(ptr, length).slice()))];
    // Removed since it was chosen: not there, as for vexorin-check.
    if (!task || !task.file || task.error === 'NotFoundError') return 0;
    const handle = nextHandle++;
    handles.set(handle, {task, pos: 0});
    return handle;
  },
  read(handle, ptr, size) {
    const open = handles.get(handle);
    if (!open || open.task.error) return -1;  // changed or unreadable since it was chosen
    const bytes = open.task.data.subarray(open.pos, open.pos + size);
    view(ptr, bytes.length).set(bytes);
    open.pos += bytes.length;
    total += bytes.length;
    report(false);
    return bytes.length;
  },
  seek(handle, offset) {
    const open = handles.get(handle);
    if (!open) return 0;
    open.pos = offset;
    return 1;
  },
  close(handle) {
    const open = handles.get(handle);
    if (open) open.task.data = null;
    handles.delete(handle);
  },
  // The batch's names are digits, which code page 932 spells as ASCII does.
  decode_cp932(ptr, length, out, capacity) {
    if (length > capacity) return -1;
    view(out, length).set(view(ptr, length).slice());
    return length;
  },
  now_ms() { return performance.now(); },
  digest_mode() { return 0; },  // the concurrent digest runs here
};

async function load(bytes, simd) {
  const module = await WebAssembly.compile(bytes);
  const imports = {};
  // The module's other calls serve the check, which does not run here.
  for (const item of WebAssembly.Module.imports(module)) {
    imports[item.module] = imports[item.module] || {};
    imports[item.module][item.name] = platform[item.name] || (() => 0);
  }
  wasm = (await WebAssembly.instantiate(module, imports)).exports;
  wasm._initialize();
  buffer = wasm.vx_alloc(PIECE);
  lanes = simd ? 1 : 0;
  const name = new Uint8Array(wasm.memory.buffer, wasm.vx_lane_kernel());
  postMessage({type: 'kernel', name: lanes ? utf8Decoder.decode(name.slice(0, name.indexOf(0))) : ''});
}

function md5Of(context) {
  const md5 = view(wasm.vx_md5_end(context), 16).slice();
  wasm.vx_md5_free(context);
  return md5;
}

// A large file, read as a stream and digested as it comes.
async function streamed(file) {
  const context = wasm.vx_md5_begin();
  let bytes = 0;
  let outcome = 0;
  try {
    const reader = file.stream().getReader();
    for (;;) {
      const {done, value} = await reader.read();
      if (done) break;
      for (let at = 0; at < value.length; at += PIECE) {
        const piece = value.subarray(at, Math.min(value.length, at + PIECE));
        view(buffer, piece.length).set(piece);
        wasm.vx_md5_update(context, buffer, piece.length);
      }
      bytes += value.length;
      total += value.length;
      report(false);
    }
  } catch (e) {
    outcome = e && e.name === 'NotFoundError' && bytes === 0 ? NOT_OPENED : READ_FAILED;
  }
  return {outcome, bytes, md5: md5Of(context)};
}

// The digests of `tasks` ({index, file}), in their order. The small files are read ahead (a
// failure kept for the digest to meet), the large ones streamed, AT_ONCE files at a time;
// then the small ones are digested together.
async function digest(tasks) {
  const results = new Array(tasks.length);
  const whole = [];
  let next = 0;
  const one = async () => {
    while (next < tasks.length) {
      const i = next++;
      const file = tasks[i].file;
      if (file && file.size > WHOLE) {
        results[i] = await streamed(file);
        continue;
      }
      const task = {file, data: null, error: null};
      whole.push([i, task]);
      if (!file) continue;
      try {
        task.data = new Uint8Array(await file.arrayBuffer());
      } catch (e) {
        task.error = e.name || 'Error';
      }
    }
  };
  await Promise.all(Array.from({length: AT_ONCE}, one));
  batch = whole.map(([, task]) => task);
  const at = wasm.vx_digest_batch(batch.length, lanes);
  const out = new DataView(wasm.memory.buffer, at, 32 * batch.length);
  whole.forEach(([i], k) => {
    results[i] = {md5: view(at + 32 * k, 16).slice(), bytes: out.getFloat64(32 * k + 16, true),
                  outcome: out.getInt32(32 * k + 24, true)};
  });
  batch = [];
  return tasks.map((task, i) => ({index: task.index, ...results[i]}));
}

// Batches are digested one after another, as they came.
let queue = Promise.resolve();

onmessage = (event) => {
  if (event.data.wasm) {
    ready = load(event.data.wasm, event.data.simd);
    return;
  }
  const tasks = event.data.tasks;
  queue = queue.then(async () => {
    try {
      await ready;
      const results = await digest(tasks);
      report(true);
      postMessage({type: 'done', results});
    } catch (e) {
      postMessage({type: 'failed', message: String(e && e.message || e)});
    }
  });
};
