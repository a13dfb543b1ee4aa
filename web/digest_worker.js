// A digest worker of the page: it reads the files it is handed as streams, several at once (the
// browser reads fastest so), and digests them with the check's own MD5 (md5.cpp in the
// WebAssembly module). The check itself decides which files, in what order, and what their
// digests mean.
'use strict';

const PIECE = 1 << 20;   // bytes handed to the MD5 at a time
const SMALL = PIECE;     // files read in one piece
const AT_ONCE = 4;       // files read at once
let wasm = null;
let buffer = 0;
let ready = null;
let total = 0;
let lastPost = 0;

async function load(bytes) {
  const module = await WebAssembly.compile(bytes);
  const imports = {};
  // The module's platform calls serve the check, which does not run here.
  for (const item of WebAssembly.Module.imports(module)) {
    imports[item.module] = imports[item.module] || {};
    imports[item.module][item.name] = () => 0;
  }
  wasm = (await WebAssembly.instantiate(module, imports)).exports;
  wasm._initialize();
  buffer = wasm.vx_alloc(PIECE);
}

function report(force) {
  const now = performance.now();
  if (!force && now - lastPost < 100) return;
  lastPost = now;
  postMessage({type: 'read', bytes: total});
}

async function digest(task) {
  if (!task.file) return {index: task.index, outcome: 1, bytes: 0, md5: new Uint8Array(16)};
  const context = wasm.vx_md5_begin();
  let bytes = 0;
  let outcome = 0;
  try {
    if (task.file.size <= SMALL) {
      // One read for a small file: a stream costs more to set up than such a file to read.
      const value = new Uint8Array(await task.file.arrayBuffer());
      new Uint8Array(wasm.memory.buffer, buffer, value.length).set(value);
      wasm.vx_md5_update(context, buffer, value.length);
      bytes = value.length;
      total += bytes;
      report(false);
      const md5 = new Uint8Array(wasm.memory.buffer, wasm.vx_md5_end(context), 16).slice();
      wasm.vx_md5_free(context);
      return {index: task.index, outcome, bytes, md5};
    }
    const reader = task.file.stream().getReader();
    for (;;) {
      const {done, value} = await reader.read();
      if (done) break;
      for (let at = 0; at < value.length; at += PIECE) {
        const piece = value.subarray(at, Math.min(value.length, at + PIECE));
        new Uint8Array(wasm.memory.buffer, buffer, piece.length).set(piece);
        wasm.vx_md5_update(context, buffer, piece.length);
      }
      bytes += value.length;
      total += value.length;
      report(false);
    }
  } catch (e) {
    outcome = 2;  // removed, changed or unreadable since it was chosen
  }
  const md5 = new Uint8Array(wasm.memory.buffer, wasm.vx_md5_end(context), 16).slice();
  wasm.vx_md5_free(context);
  return {index: task.index, outcome, bytes, md5};
}

// Where this worker cannot read the page's File objects, a task names the file's size only and
// the page hands over its bytes a piece at a time when asked: a stand-in with the File's
// `size`, `arrayBuffer` and `stream` that asks for them (one piece asked per file at a time).
const asked = new Map();  // task index -> {resolve, reject} of the piece asked for
function fromPage(index, pos, size) {
  return new Promise((resolve, reject) => {
    asked.set(index, {resolve, reject});
    postMessage({type: 'piece', index, pos, size});
  });
}
function pageFile(index, size) {
  return {
    size,
    arrayBuffer: () => fromPage(index, 0, size),
    stream: () => {
      let pos = 0;
      return {getReader: () => ({
        async read() {
          if (pos >= size) return {done: true};
          const value = new Uint8Array(await fromPage(index, pos, Math.min(PIECE, size - pos)));
          if (value.length === 0) throw new Error('the file has become shorter');
          pos += value.length;
          return {done: false, value};
        },
      })};
    },
  };
}

onmessage = async (event) => {
  if (event.data.wasm) {
    ready = load(event.data.wasm);
    return;
  }
  if (event.data.piece !== undefined) {
    const {resolve, reject} = asked.get(event.data.piece);
    asked.delete(event.data.piece);
    if (event.data.bytes) resolve(event.data.bytes);
    else reject(new Error(event.data.error));
    return;
  }
  try {
    await ready;
    const tasks = event.data.tasks;
    for (const task of tasks) {
      if (task.size !== undefined) task.file = pageFile(task.index, task.size);
    }
    const results = new Array(tasks.length);
    let next = 0;
    const lane = async () => {
      while (next < tasks.length) {
        const i = next++;
        results[i] = await digest(tasks[i]);
      }
    };
    await Promise.all(Array.from({length: AT_ONCE}, lane));
    report(true);
    postMessage({type: 'done', results});
  } catch (e) {
    postMessage({type: 'failed', message: String(e && e.message || e)});
  }
};
