// The page's worker: it holds the files of the chosen folder, finds the checker among them,
// and runs the check compiled to WebAssembly, answering its platform calls (module "vx") by
// reading slices of the browser's File objects synchronously. Only File objects the browser
// handed over can be read: a path names one of them or nothing.
'use strict';

let wasm = null;
// {path, file}: every file handed over, its path from the chosen folder. With digest workers
// only the .exe files come with their File: the page hands the others to the digest workers.
let entries = [];
let explicitFolders = [];  // folders the page saw itself (a drop shows empty ones too)
let files = new Map();   // path below the checker's folder -> its index in `entries`
let folders = new Set();  // folders below the checker's folder ("" is the folder itself)
let checkerFile = null;
const handles = new Map();
let nextHandle = 1;
const reader = new FileReaderSync();
let bytesRead = 0;
let filesDone = 0;
let lastPost = 0;
let known = 0;        // the files the check wants, so far (it may want more: files under other names)
let unseen = [];      // listed empty folders that the folder input could not show
let base = '';        // the folder whose checker use_checker names
let children = null;  // folder -> the names in it, made when the check first lists a folder
let listed = null;    // the names of the folder listed last, for list_copy
// A downloaded zip: its size and the pieces of it the page handed over ({offset, bytes}); the
// piece a read of the module asked for and did not find; the page's answer awaited.
let zipSize = 0;
let inZip = false;
let zipPieces = [];
let zipNeed = null;
let answer = null;

// Made once: a decoder costs more to make than most paths cost to decode.
const utf8Decoder = new TextDecoder();
const cp932Decoders = [new TextDecoder('shift_jis'), new TextDecoder('shift_jis', {fatal: true})];

function view(ptr, length) { return new Uint8Array(wasm.memory.buffer, ptr, length); }
function utf8(ptr, length) { return utf8Decoder.decode(view(ptr, length).slice()); }

function progress(force) {
  const now = performance.now();
  if (!force && now - lastPost < 100) return;
  lastPost = now;
  postMessage({type: 'progress', bytes: bytesRead, files: filesDone});
}

function fileAt(ptr, length, checker) {
  if (checker) return checkerFile;
  const index = files.get(real(utf8(ptr, length)));
  return index === undefined ? null : entries[index].file;
}

// The bytes of `file` from `start` to `end`, synchronously: from the .exe files' tails the page
// handed over, or read from the File.
function bytesOf(file, start, end) {
  if (file.tail) {
    if (start >= file.tailAt) return file.tail.subarray(start - file.tailAt, end - file.tailAt);
    if (!file.real) throw new Error('only the end of this file was handed over');
    file = file.real;
  }
  return new Uint8Array(reader.readAsArrayBuffer(file.slice(start, end)));
}

// The folder input gives a backslash in a folder's name as "/" (as Windows would), so a
// folder that an unpacker named with one (code page 932's second bytes read as another code
// page) arrives as folders in folders. A listing names such folders below it also as the one
// name they are on disk, backslashes joining the parts; `virtual` leads such a name back to
// the real path.
let virtual = new Map();

function real(path) {
  if (files.has(path) || folders.has(path)) return path;
  const named = virtual.get(path);
  if (named !== undefined) return named;
  const cut = path.lastIndexOf('/');
  return cut < 0 ? path : real(path.slice(0, cut)) + '/' + path.slice(cut + 1);
}

// The names in `folder` (a path the check was given), each with a NUL after it; with `aliases`,
// also those of the folders below it joined at the backslashes the browser split them at.
function namesIn(folder, aliases) {
  const at = real(folder);
  if (!folders.has(at)) return null;
  if (!children) {
    children = new Map();
    for (const path of [...files.keys(), ...folders]) {
      if (path === '') continue;
      const up = parent(path);
      if (!children.has(up)) children.set(up, []);
      children.get(up).push(path.slice(up === '' ? 0 : up.length + 1));
    }
  }
  const names = [...(children.get(at) || [])];
  if (!aliases) return names.map(name => name + '\0').join('');
  const below = (inner, prefix) => {
    for (const name of children.get(inner) || []) {
      const path = inner === '' ? name : inner + '/' + name;
      if (!folders.has(path)) continue;
      const joined = prefix + '\\' + name;
      names.push(joined);
      virtual.set(folder === '' ? joined : folder + '/' + joined, path);
      below(path, joined);
    }
  };
  for (const name of children.get(at) || []) {
    const path = at === '' ? name : at + '/' + name;
    if (folders.has(path)) below(path, name);
  }
  return names.map(name => name + '\0').join('');
}

const platform = {
  open(ptr, length, checker) {
    const file = fileAt(ptr, length, checker);
    if (!file) return 0;
    const handle = nextHandle++;
    handles.set(handle, {file, pos: 0, listed: !checker});
    return handle;
  },
  read(handle, ptr, size) {
    const open = handles.get(handle);
    if (!open) return -1;
    const end = Math.min(open.pos + size, open.file.size);
    if (end <= open.pos) return 0;
    let data;
    try {
      // One slice per call: memory stays bounded by the check's own buffers.
      data = bytesOf(open.file, open.pos, end);
    } catch (e) {
      return -1;  // removed, changed or unreadable since it was chosen
    }
    view(ptr, data.length).set(data);
    open.pos += data.length;
    if (open.listed) {
      bytesRead += data.length;
      progress(false);
    }
    return data.length;
  },
  seek(handle, offset) {
    const open = handles.get(handle);
    if (!open) return 0;
    open.pos = offset;
    return 1;
  },
  close(handle) {
    const open = handles.get(handle);
    if (open && open.listed) {
      ++filesDone;
      progress(false);
    }
    handles.delete(handle);
  },
  size(ptr, length, checker) {
    const file = fileAt(ptr, length, checker);
    return file ? file.size : -1;
  },
  is_folder(ptr, length) { return folders.has(real(utf8(ptr, length))) ? 1 : 0; },
  decode_cp932(ptr, length, out, capacity, exact) {
    let text;
    try {
      text = cp932Decoders[exact !== 0 ? 1 : 0].decode(view(ptr, length).slice());
    } catch (e) {
      return -1;
    }
    return new TextEncoder().encodeInto(text, view(out, capacity)).written;
  },
  // The names in a folder below the checker's, for the search of names unpackers garbled.
  list(ptr, length, aliases) {
    const names = namesIn(utf8(ptr, length), aliases !== 0);
    if (names === null) return -1;
    listed = new TextEncoder().encode(names);
    return listed.length;
  },
  list_copy(out) { view(out, listed.length).set(listed); },
  real_path(ptr, length) {
    listed = new TextEncoder().encode(real(utf8(ptr, length)));
    return listed.length;
  },
  use_checker(ptr, length) {
    const path = base + '/' + utf8(ptr, length);
    const entry = entries.find(e => e.path === path);
    checkerFile = entry ? entry.file : null;
    // Check data too large to hand over: it counts as a checker's, refused when it is run.
    return checkerFile && checkerFile.tooBig ? 1 : 0;
  },
  now_ms() { return performance.now(); },
  zip_size() { return zipSize; },
  zip_read(offset, ptr, size) {
    const piece = zipPieces.find(p => p.offset <= offset && offset + size <= p.offset + p.bytes.length);
    if (!piece) {
      zipNeed = {offset, size};
      return 0;
    }
    view(ptr, size).set(piece.bytes.subarray(offset - piece.offset, offset - piece.offset + size));
    return 1;
  },
};

async function load(bytes) {
  if (wasm) return;
  const module = await WebAssembly.compile(bytes);
  const imports = {vx: platform};
  // The C library's own calls (its error output) have nowhere to go in a page.
  for (const item of WebAssembly.Module.imports(module)) {
    if (item.module === 'wasi_snapshot_preview1') {
      imports[item.module] = imports[item.module] || {};
      imports[item.module][item.name] = () => 52;  // ENOSYS
    }
  }
  const instance = await WebAssembly.instantiate(module, imports);
  wasm = instance.exports;
  wasm._initialize();
}

function put(text) {
  const bytes = new TextEncoder().encode(text);
  const ptr = wasm.vx_input(bytes.length);
  view(ptr, bytes.length).set(bytes);
}

function parent(path) {
  const cut = path.lastIndexOf('/');
  return cut < 0 ? '' : path.slice(0, cut);
}

function isExe(path) { return /\.exe$/i.test(path); }

// Makes the folder `base` (a path from the chosen folder's parent) the checker's folder.
function useFolder(base) {
  const prefix = base + '/';
  files = new Map();
  folders = new Set(['']);
  children = null;
  virtual = new Map();
  for (let i = 0; i < entries.length; ++i) {
    const entry = entries[i];
    if (!entry.path.startsWith(prefix)) continue;
    const relative = entry.path.slice(prefix.length);
    files.set(relative, i);
    for (let folder = parent(relative); folder !== ''; folder = parent(folder)) folders.add(folder);
  }
  for (const folder of explicitFolders) {
    if (folder.startsWith(prefix)) folders.add(folder.slice(prefix.length));
  }
}

// The answer of the module, its parts each followed by a NUL.
function parts() {
  const all = utf8(wasm.vx_result(), wasm.vx_result_size()).split('\0');
  all.pop();
  return all;
}

// The checker of folder `folder` as vexorin-check finds it (the module decides). Returns
// {checker} or {several: [names]} or {}.
function checkerIn(folder) {
  const here = entries.filter(e => parent(e.path) === folder && isExe(e.path))
                      .sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
  base = folder;
  put(here.map(e => e.path.slice(folder.length + 1) + '\0').join(''));
  wasm.vx_find_checker();
  const [kind, ...names] = parts();
  if (kind === 'checker') return {checker: here.find(e => e.path === folder + '/' + names[0])};
  if (kind === 'several') return {several: names};
  return {};
}

// Folders below `root` that hold a checker, for a recipient who chose the folder above.
function checkersBelow(root) {
  const bases = new Set();
  for (const entry of entries) {
    if (isExe(entry.path) && entry.path.startsWith(root + '/') && parent(entry.path) !== root) {
      bases.add(parent(entry.path));
    }
  }
  const found = [];
  for (const folder of [...bases].sort()) {
    if (found.length >= 5) break;
    const there = checkerIn(folder);
    if (there.checker || there.several) found.push(folder);
  }
  return found;
}

// The wanted files from the module's answer, by their index in `entries` (-1: not there), which
// costs the page no copy of the paths.
function wantedIndices() {
  return Int32Array.from(parts(), path => {
    const at = path ? files.get(real(path)) : undefined;
    return at === undefined ? -1 : at;
  });
}

function run(folder, checker, lanes, workers, input) {
  if (checker.file && checker.file.tooBig) {
    postMessage({type: 'too-big'});
    return;
  }
  useFolder(folder);
  base = folder;
  const name = checker.path.slice(folder.length + 1);
  put(folder + '\0' + name);
  wasm.vx_load(workers ? 1 : 0);
  const [listedFiles, listedBytes, ...empty] = parts();
  if (listedFiles === '-1') {
    finish();
    return;
  }
  // A folder input shows no folder without a file below it. Such a listed folder, below which
  // no file is listed either, is taken to be there, and the page says that it was not seen.
  unseen = input ? empty.filter(f => !folders.has(f)) : [];
  for (const f of unseen) folders.add(f);
  postMessage({type: 'begin', files: Number(listedFiles), bytes: Number(listedBytes), folder, checker: name});
  bytesRead = 0;
  filesDone = 0;
  known = wasm.vx_begin();
  if (known <= 0) {
    finish();
  } else if (workers) {
    // The page's digest workers digest the files the check wants and hand their digests back
    // as they come (take).
    const indices = wantedIndices();
    postMessage({type: 'digest', folder, indices}, [indices.buffer]);
  } else {
    wasm.vx_check_here(lanes ? 1 : 0);
    finish();
  }
}

// Hands the check a batch of digests: `records` (their bytes as the module made them) of the
// wanted files `indices`. The check may then want more (files under other names): the page is
// asked for them.
function take(indices, records) {
  const count = indices.length;
  const at = wasm.vx_records(count);
  view(at, records.byteLength).set(new Uint8Array(records));
  const ints = new Uint8Array(indices.buffer, indices.byteOffset, indices.byteLength);
  const where = wasm.vx_input(ints.length);
  view(where, ints.length).set(ints);
  const wanted = wasm.vx_take(at, where, count, known);
  if (wanted < 0) {
    finish();
  } else if (wanted > known) {
    if (inZip) {
      postMessage({type: 'more', first: known, zip: parts().map(line => (line ? zipFacts(line) : null))});
    } else {
      const more = wantedIndices();
      postMessage({type: 'more', first: known, indices: more}, [more.buffer]);
    }
    known = wanted;
  }
}

// Asks the page for something (a message of `type`) and waits for its answer.
function ask(message) {
  return new Promise((resolve) => {
    answer = resolve;
    postMessage(message);
  });
}

// The bytes the page holds at most for the zip's directory: check data beyond this could not be
// checked either.
const ZIP_HELD_MAX = 256 << 20;
// The directory is read from the end of the zip onwards: a piece this large is asked at a time.
const ZIP_PIECE = 16 << 20;

// A zip's entries (in the module), its checker and the check of its entries, as vexorin-check
// checks a zip. The zip's bytes are read by the page, which hands over the pieces asked for.
async function checkZip(job) {
  zipSize = job.zip.size;
  inZip = true;
  zipPieces = [];
  let held = 0;
  let state;
  for (;;) {
    zipNeed = null;
    put(job.zip.name);
    wasm.vx_zip_open();
    state = parts()[0];
    if (!zipNeed) break;
    const start = zipNeed.offset;
    const end = Math.min(zipSize, Math.max(start + zipNeed.size, start + ZIP_PIECE));
    held += end - start;
    if (held > ZIP_HELD_MAX) {
      postMessage({type: 'too-big'});
      return;
    }
    zipPieces.push({offset: start, bytes: new Uint8Array(await ask({type: 'zip-piece', start, end}))});
  }
  if (state === 'not-zip') {
    postMessage({type: 'not-zip'});
    return;
  }
  if (state !== 'ok') {
    wasm.vx_zip_fault();
    const [outcome, text, all, json] = parts();
    postMessage({type: 'result', outcome, text, all, json: JSON.parse(json), unseen: []});
    return;
  }
  let checker = job.checker;
  if (checker) {
    put(checker);
    wasm.vx_zip_use();
  }
  while (!checker) {
    wasm.vx_zip_choose();
    const [kind, ...rest] = parts();
    if (kind === 'checker') {
      checker = rest[0];
    } else if (kind === 'need') {
      // The .exe entries whose check data the choice reads, inflated by the page.
      const inflated = await ask({type: 'zip-inflate', entries: rest.map(zipFacts)});
      for (const {index, bytes} of inflated) {
        if (!bytes) {
          postMessage({type: 'too-big'});
          return;
        }
        const data = new Uint8Array(bytes);
        view(wasm.vx_input(data.length), data.length).set(data);
        wasm.vx_zip_hold(index);
      }
    } else if (kind === 'several') {
      postMessage({type: 'several', names: rest});
      return;
    } else {
      postMessage({type: 'none', below: [], exes: [], zip: true});
      return;
    }
  }
  zipPieces = [];  // the directory is read: what it said is in the module
  put(job.zip.name + '\0' + checker);
  wasm.vx_load(1);
  const [listedFiles, listedBytes] = parts();
  if (listedFiles === '-1') {
    finish();
    return;
  }
  postMessage({type: 'begin', files: Number(listedFiles), bytes: Number(listedBytes), folder: job.zip.name, checker});
  known = wasm.vx_begin();
  if (known <= 0) {
    finish();
    return;
  }
  postMessage({type: 'digest', zip: parts().map(line => (line ? zipFacts(line) : null))});
}

// An entry's facts as the module gives them in a line (FactsLine).
function zipFacts(line) {
  const [index, offset, compressedSize, size, method, crc32, readable] = line.split(' ', 7).map(Number);
  return {index, offset, compressedSize, size, method, crc32, readable: readable === 1};
}

function finish() {
  wasm.vx_finish();
  const [outcome, text, all, json] = parts();
  progress(true);
  postMessage({type: 'result', outcome, text, all, json: JSON.parse(json), unseen});
}

onmessage = async (event) => {
  const job = event.data;
  try {
    if (job.take) {
      take(job.take.indices, job.take.records);
      return;
    }
    if (job.answer !== undefined) {
      answer(job.answer);
      return;
    }
    await load(job.wasm);
    if (job.zip) {
      await checkZip(job);
      return;
    }
    // The .exe files come with their tail, read once by the page: a stand-in with the File's
    // size, the tail and where it begins, and the File itself where this worker digests them.
    entries = job.entries.map(e => (e.tail ? {path: e.path, file: {
      size: e.size, tail: new Uint8Array(e.tail), tailAt: e.size - e.tail.byteLength, real: e.file, tooBig: e.tooBig}} : e));
    explicitFolders = job.folders;
    const root = job.root;
    if (job.checker) {
      const chosen = entries.find(e => e.path === root + '/' + job.checker);
      run(root, chosen, job.lanes, job.workers, job.unseen);
      return;
    }
    const here = checkerIn(root);
    if (here.checker) {
      run(root, here.checker, job.lanes, job.workers, job.unseen);
    } else if (here.several) {
      postMessage({type: 'several', names: here.several});
    } else {
      const exes = entries.filter(e => parent(e.path) === root && isExe(e.path)).map(e => e.path.slice(root.length + 1));
      postMessage({type: 'none', below: checkersBelow(root), exes});
    }
  } catch (e) {
    postMessage({type: 'failed', message: String(e && e.message || e)});
  }
};
