// A digest worker of the page: it digests the batches of files it is handed. The page reads
// the files of up to 8 MiB itself and hands over their bytes, a batch's in one buffer; they
// are digested by the check's own concurrent digest in the WebAssembly module, several at
// once in the SIMD lanes (the scalar MD5 where SIMD is missing), its platform calls answered
// from those bytes. A larger file is read here as a stream and digested with the scalar MD5 as
// its pieces come: the browser hands over a stream no faster than that MD5 digests it. The
// check itself decides which files, in what order, and what their digests mean.
'use strict';

const PIECE = 1 << 20;   // bytes of a stream handed to the MD5 at a time
const AT_ONCE = 4;       // large files read at once
const NOT_OPENED = 1;    // the digest's outcomes (DigestOutcome)
const READ_FAILED = 2;
let wasm = null;
let RECORD = 0;           // the bytes of a digest record, which the module makes and reads
let lanes = 0;
let buffer = 0;
let ready = null;
let total = 0;
let lastPost = 0;
let batch = [];          // the files being digested: {data, error, missing}
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
    if (!task || task.missing || task.error === 'NotFoundError') return 0;
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
  RECORD = wasm.vx_record_size();
  lanes = simd ? 1 : 0;
  const name = new Uint8Array(wasm.memory.buffer, wasm.vx_lane_kernel());
  postMessage({type: 'kernel', name: lanes ? utf8Decoder.decode(name.slice(0, name.indexOf(0))) : ''});
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
  return view(wasm.vx_md5_end(context, bytes, outcome, 0, 0), RECORD).slice();
}

// A downloaded zip the entries of which this worker reads: the File, or where this worker cannot
// read a File, a stand-in whose slices the page reads.
let zipBlob = null;
let zipAsked = 0;
function pageZip(size) {
  return {
    size,
    slice: (start, end) => ({arrayBuffer: () => new Promise((resolve, reject) => {
      const id = 'zip' + (++zipAsked);
      asked.set(id, {resolve, reject});
      postMessage({type: 'zip-piece', id, start, end});
    })}),
  };
}

// An entry of the zip, read, inflated where it is deflated, and digested as it comes, with its
// CRC-32: what that says of the zip the check decides (the record's `zip`: 1 read as far as it
// could be, 2 cut short by the zip's end).
async function zipped(entry, blob) {
  if (!entry.readable) return view(wasm.vx_md5_end(wasm.vx_md5_begin(), 0, READ_FAILED, 0, 0), RECORD).slice();
  const context = wasm.vx_md5_begin();
  let crc = 0;
  const sink = {
    update(bytes) {
      for (let at = 0; at < bytes.length; at += PIECE) {
        const piece = bytes.subarray(at, Math.min(bytes.length, at + PIECE));
        view(buffer, piece.length).set(piece);
        wasm.vx_md5_update(context, buffer, piece.length);
        crc = wasm.vx_crc32(crc, buffer, piece.length);
      }
      total += bytes.length;
      report(false);
    },
    crc() {},  // taken with the MD5, from the same copy
  };
  let got;
  try {
    got = await digestZipEntry(await blob, entry, sink);
  } catch (e) {
    got = {bytes: 0, outcome: 'unreadable'};
  }
  const read = got.outcome === 'whole' || got.outcome === 'corrupt';
  const outcome = read || got.outcome === 'incomplete' ? 0 : READ_FAILED;
  const zip = read ? 1 : got.outcome === 'incomplete' ? 2 : 0;
  return view(wasm.vx_md5_end(context, got.bytes, outcome, crc >>> 0, zip), RECORD).slice();
}

// The large files handed over and not yet read, across batches ({batch, i, file}); the files
// whose bytes came (or the error that reading them met), waiting for the digest.
const pending = [];
let waiting = [];
let readers = 0;
let pumping = false;

// A batch's digests go back to the page in one buffer, in batch order, with the files' indices:
// a few objects a batch rather than some for every file, for the browser to collect.
function finished(task, digest) {
  const batch = task.batch;
  batch.records.set(digest, RECORD * task.i);
  if (--batch.left === 0) {
    report(true);
    postMessage({type: 'done', indices: batch.indices, records: batch.records.buffer},
                [batch.indices.buffer, batch.records.buffer]);
  }
}

// One of AT_ONCE readers of the large files: it reads and digests the next one, as a stream,
// while there is one.
async function reader() {
  while (pending.length) {
    const task = pending.shift();
    finished(task, task.zip ? await zipped(task.zip, task.blob) : await streamed(task.file));
  }
  --readers;
}

// The files whose bytes came are digested together, in the lanes, once the worker's turn
// comes.
function schedule() {
  if (pumping || !waiting.length) return;
  pumping = true;
  setTimeout(digestWaiting, 0);
}

function digestWaiting() {
  pumping = false;
  batch = waiting;
  waiting = [];
  try {
    const at = wasm.vx_digest_batch(batch.length, lanes);
    batch.forEach((task, k) => finished(task, view(at + RECORD * k, RECORD)));
  } catch (e) {
    postMessage({type: 'failed', message: String(e && e.message || e)});
  }
  batch = [];
  schedule();
}

// Where this worker cannot read the page's File objects, a task names the file's size only and
// the page hands over a large file's bytes a piece at a time when asked: a stand-in with the
// File's `size` and `stream` that asks for them (one piece asked per file at a time).
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
    ready = load(event.data.wasm, event.data.simd);
    if (event.data.zip) zipBlob = event.data.zip;
    else if (event.data.zipSize !== undefined) zipBlob = pageZip(event.data.zipSize);
    return;
  }
  if (event.data.piece !== undefined) {
    const {resolve, reject} = asked.get(event.data.piece);
    asked.delete(event.data.piece);
    if (event.data.bytes) resolve(event.data.bytes);
    // By the error's name: a file removed since it was chosen is missing (NotFoundError).
    else reject(Object.assign(new Error(event.data.error), {name: event.data.name || 'Error'}));
    return;
  }
  await ready;
  const tasks = event.data.tasks;
  const data = event.data.data ? new Uint8Array(event.data.data) : null;
  const batch = {indices: Int32Array.from(tasks, task => task.index), records: new Uint8Array(RECORD * tasks.length),
                 left: tasks.length};
  if (!tasks.length) postMessage({type: 'done', indices: batch.indices, records: batch.records.buffer});
  let at = 0;
  const zipItems = [];
  tasks.forEach((task, i) => {
    const item = {batch, i, file: null, data: null, error: task.error || null, missing: false};
    if (task.zip) {
      item.zip = task.zip;
      item.blob = zipBlob;
      zipItems.push(item);
      pending.push(item);
    } else if (task.length !== undefined) {
      item.data = data.subarray(at, at + task.length);
      at += task.length;
      waiting.push(item);
    } else if (task.file === null) {
      item.missing = true;
      waiting.push(item);
    } else {
      item.file = task.size !== undefined ? pageFile(task.index, task.size) : task.file;
      pending.push(item);
    }
  });
  // The batch's entries that lie next to one another in the zip are read together, one slice a
  // run, all at once: the page's budget holds the batch's compressed bytes.
  if (zipItems.length) {
    const byEntry = new Map(zipItems.map(item => [item.zip, item]));
    for (const run of zipRuns(zipItems.filter(item => item.zip.readable).map(item => item.zip), zipBlob.size)) {
      const read = zipReadRun(zipBlob, run);
      read.catch(() => {});  // its reader says what went wrong
      for (const entry of run.entries) byEntry.get(entry).blob = read;
    }
  }
  schedule();
  // Counted before any starts: a reader that finds nothing to read ends at once.
  for (let more = Math.min(AT_ONCE - readers, pending.length); more > 0; --more) {
    ++readers;
    reader();
  }
};
