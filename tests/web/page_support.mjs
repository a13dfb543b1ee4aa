// What the tests of the web page share, whichever browser they drive: the command line, the
// checker's texts, folders built by the real vexorin-build, the native vexorin-check's reports,
// a static server on 127.0.0.1 that logs what it is asked for, the counted checks, and the
// functions run inside the page (its result as shown, a drop of a folder).
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

// --name value pairs; the `needed` ones must be there and are paths, made absolute.
export function parseArgs(needed) {
  const args = {};
  for (let i = 2; i < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
  for (const need of needed) {
    if (!args[need]) throw new Error(`--${need} is needed`);
    args[need] = path.resolve(args[need]);
  }
  return args;
}

export const DEFAULT_1 = 'ダウンロードからやり直してください.';
export const DEFAULT_2 = 'また、フォルダ構造ごと解凍しているか確認してください.';
export const CUSTOM = ['フォルダがない\n二行目', 'ファイルがない', '壊れている'];
export const INTACT = 'すべてのファイルは正常です.';
export const LOAD_FAILED = 'チェックデータの読み込みに失敗しました.\nVexorin.exeが壊れています.';
export const TREE = {
  '表.txt': Buffer.from('hyou'),
  'ソフト/readme.txt': Buffer.from('soft'),
  'ソフト/深い/data.bin': Buffer.alloc(768000, 7).map((_, i) => i & 255),  // more than one chunk
  'ソフト/空.txt': Buffer.alloc(0),
  'ソフト/波～.txt': Buffer.from('nami'),  // U+FF5E: 0x8160 in the check data, as Windows maps it
  'z.txt': Buffer.from('zzz'),
};
// The padding edges of MD5 (55, 56, 64 bytes) and the edges of the lane buffers (64 KiB) and of
// the checker's chunk (512 KiB), as the lane digest's unit test takes them, and enough files
// for the lanes to be refilled.
export const LANE = 65536;
export const CHUNK = 524288;
export const EDGE_SIZES = [0, 1, 55, 56, 63, 64, 65, LANE - 1, LANE, LANE + 1, 2 * LANE, 3 * LANE + 7,
                           CHUNK - 1, CHUNK, CHUNK + 1, 2 * CHUNK + 3];

// Counted checks: a failure is printed and the run goes on; `finish` says how many passed and
// how many cases could not run here (`skip`, each said with its reason), and ends the process
// with the verdict.
let failures = 0;
let cases = 0;
let skipped = 0;
export function skip(what) {
  skipped += 1;
  console.log(`SKIP: ${what}`);
}
export function check(ok, what) {
  cases += 1;
  if (!ok) {
    failures += 1;
    console.log(`FAIL: ${what}`);
  }
}
export function same(actual, expected, what) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  check(a === e, `${what}\n  page:   ${a}\n  wanted: ${e}`);
}
export function finish() {
  console.log(`${cases - failures} of ${cases} checks passed, ${skipped} skipped`);
  process.exit(failures ? 1 : 0);
}

// Folders built by the real vexorin-build in a scratch folder of their own, and the native
// vexorin-check's view of them. `tools` holds the paths of both programs.
export class Trees {
  constructor(tools) {
    this.tools = tools;
    this.scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vxweb-'));
    this.folders = 0;
  }

  run(tool, toolArgs, cwd) {
    return spawnSync(tool, toolArgs, {cwd, env: {...process.env, LC_ALL: 'C.UTF-8'}, timeout: 300000});
  }

  // A fresh empty folder `name`, alone in a folder of its own.
  fresh(name = 'pack') {
    const dir = path.join(this.scratch, String(++this.folders), name);
    fs.mkdirSync(dir, {recursive: true});
    return dir;
  }

  // A folder `name` of `files` (path -> bytes) inside a fresh folder, with a checker built by the
  // real vexorin-build (with `messages`, and `checker` as its name, when given).
  make(files, {name = 'pack', messages = null, checker = null, emptyFolders = []} = {}) {
    const root = this.fresh(name);
    for (const [rel, data] of Object.entries(files)) {
      fs.mkdirSync(path.dirname(path.join(root, rel)), {recursive: true});
      fs.writeFileSync(path.join(root, rel), data);
    }
    for (const folder of emptyFolders) fs.mkdirSync(path.join(root, folder), {recursive: true});
    const buildArgs = ['--yes'];
    if (checker) buildArgs.push('--name', checker);
    if (messages) {
      ['--folder-message', '--nofile-message', '--broken-message'].forEach((flag, i) => buildArgs.push(flag, messages[i]));
    }
    const r = this.run(this.tools.build, [...buildArgs, root]);
    if (r.status !== 0) throw new Error(`vexorin-build: ${r.stderr}`);
    return root;
  }

  // The folder `named` zipped with code-page-932 names, as Japanese archivers write them, and
  // unpacked by Python's zipfile (code page 437 in UTF-8): every name garbled.
  garbled(named) {
    const out = this.fresh();
    const zip = path.join(this.scratch, `garbled-${this.folders}.zip`);
    const r = this.run('python3', ['-c', `import sys, pathlib, zipfile
sys.path.insert(0, sys.argv[1])
from test_unpacker_names import zip_with_cp932_names
zip_with_cp932_names(pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3]))
zipfile.ZipFile(sys.argv[3]).extractall(sys.argv[4])`, path.join(path.dirname(new URL(import.meta.url).pathname), '../cli'),
      named, zip, out]);
    if (r.status !== 0) throw new Error(`zip and unpack: ${r.stderr}`);
    return out;
  }

  copy(root) {
    const copy = path.join(this.scratch, String(++this.folders), path.basename(root));
    fs.cpSync(root, copy, {recursive: true});
    return copy;
  }

  // The native vexorin-check's --json report of `root`, with the folder named as the page names
  // it (the chosen folder's name) and without the two fields that name the checker's place.
  nativeReport(root, checker = null) {
    const r = this.run(this.tools.check, ['--json', ...(checker ? [checker] : [])], root);
    const report = JSON.parse(r.stdout.toString());
    const text = JSON.stringify(report).split(JSON.stringify(root).slice(1, -1)).join(path.basename(root));
    const out = JSON.parse(text);
    delete out.checker;
    delete out.folder;
    return out;
  }

  // The zips of vexorin-check's own zip test (tests/cli/test_check_zip.py), made by the real
  // zippers from a folder built by the real vexorin-build: name -> path.
  zips() {
    const dir = path.join(this.scratch, 'zips');
    const maker = fileURLToPath(new URL('../cli/test_check_zip.py', import.meta.url));
    const r = spawnSync('python3', [maker, '--build', this.tools.build, '--make-zips', dir], {timeout: 600000});
    if (r.status !== 0) throw new Error(`the zips: ${r.stderr}`);
    return Object.fromEntries(fs.readdirSync(dir).map(name => [name.replace(/\.zip$/, ''), path.join(dir, name)]));
  }

  // The native vexorin-check's --json report of a zip, the zip named as the page names it (its
  // file name), without the fields that name the checker's place.
  nativeZipReport(zip) {
    const r = this.run(this.tools.check, ['--json', zip], path.dirname(zip));
    const text = r.stdout.toString().split(JSON.stringify(zip).slice(1, -1)).join(path.basename(zip));
    const out = JSON.parse(text);
    delete out.checker;
    delete out.folder;
    return out;
  }

  nativeAll(root) {
    return this.run(this.tools.check, ['--all'], root).stdout.toString().split(root).join(path.basename(root));
  }

  remove() {
    fs.rmSync(this.scratch, {recursive: true, force: true});
  }
}

// The page's report without the two fields that name the checker's place (see nativeReport).
export function pageReport(shown) {
  const out = JSON.parse(JSON.stringify(shown.json));
  delete out.checker;
  delete out.folder;
  return out;
}

// A static server on 127.0.0.1 that hands out the page for any path and logs every request it
// gets, so that a test sees what reached it whatever the browser lets its driver see.
export async function servePage(pageFile) {
  const html = fs.readFileSync(pageFile);
  const requests = [];
  const server = http.createServer((req, res) => {
    requests.push(req.url);
    res.writeHead(200, {'Content-Type': 'text/html; charset=utf-8'});
    res.end(html);
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  const origin = `http://127.0.0.1:${server.address().port}`;
  return {url: `${origin}/vexorin-check.html`, origin, requests, close: () => server.close()};
}

// In the page, before its own script: every Content-Security-Policy violation is kept in
// window.__violations.
export function logViolationsInPage() {
  window.__violations = [];
  document.addEventListener('securitypolicyviolation', (e) => window.__violations.push(`${e.violatedDirective} ${e.blockedURI}`));
}

// In the page: whether it has come to an end with the folder, and what it shows then.
export function phaseEndedInPage() {
  return ['done', 'message', 'choose'].includes(document.body.dataset.phase);
}
export function shownInPage() {
  return {
    phase: document.body.dataset.phase,
    text: document.getElementById('result').textContent,
    problems: [...document.querySelectorAll('#problems li')].map(li => li.textContent),
    summary: document.getElementById('summary').textContent,
    zipNotes: [...document.querySelectorAll('#zipNotes li')].map(li => li.textContent),
    unlisted: [...document.querySelectorAll('#unlisted li')].map(li => li.textContent),
    note: document.getElementById('note').hidden ? '' : document.getElementById('note').textContent,
    choices: [...document.querySelectorAll('#choices button')].map(b => b.textContent),
    json: window.vexorinPage.result && window.vexorinPage.phase === 'done' ? window.vexorinPage.result.json : null,
  };
}

// The folder `dir` as a drop hands it to the page: its own name as the top entry's path, and
// every folder and file below it (files with their bytes in base64), in name order.
// `gone`: paths below `dir` of files to be removed after the drop (see dropInPage).
export function dropItems(dir, gone = []) {
  const items = [];
  const walk = (abs, rel) => {
    for (const name of fs.readdirSync(abs).sort()) {
      const full = path.join(abs, name);
      const r = rel + '/' + name;
      if (fs.statSync(full).isDirectory()) {
        items.push({kind: 'dir', path: r});
        walk(full, r);
      } else {
        const item = {kind: 'file', path: r, data: fs.readFileSync(full).toString('base64')};
        if (gone.includes(r.slice(r.indexOf('/', 1) + 1))) item.gone = true;
        items.push(item);
      }
    }
  };
  const top = '/' + path.basename(dir);
  walk(dir, top);
  return {top, items};
}

// In the page: a drop of the folder `dropItems` described, as Chromium hands one to the page: a
// DataTransfer item whose entry is a directory, read through readEntries in batches of at most
// 100 entries, then nothing; its files are real File objects of the test's bytes.
export function dropInPage({top, items}) {
  const entryOf = new Map();
  const children = new Map([[top, []]]);
  const directory = (p) => ({
    isDirectory: true, isFile: false, name: p.split('/').pop(), fullPath: p,
    createReader() {
      let at = 0;
      return {readEntries(ok) {
        const list = children.get(p);
        const batch = list.slice(at, at + 100);
        at += batch.length;
        setTimeout(() => ok(batch), 0);
      }};
    },
  });
  entryOf.set(top, directory(top));
  for (const item of items) {
    const parent = item.path.slice(0, item.path.lastIndexOf('/'));
    let entry;
    if (item.kind === 'dir') {
      children.set(item.path, []);
      entry = directory(item.path);
    } else {
      const bytes = Uint8Array.from(atob(item.data), c => c.charCodeAt(0));
      const file = new File([bytes], item.path.split('/').pop());
      if (item.gone) {
        // Removed after the drop: every read of it fails as the browser fails it then.
        const gone = () => Promise.reject(new DOMException('the file is gone', 'NotFoundError'));
        const stream = () => new ReadableStream({start(c) { c.error(new DOMException('the file is gone', 'NotFoundError')); }});
        file.slice = () => Object.assign(new Blob([]), {arrayBuffer: gone, stream});
        file.arrayBuffer = gone;
        file.stream = stream;
      }
      entry = {isDirectory: false, isFile: true, name: file.name, fullPath: item.path, file(ok) { setTimeout(() => ok(file), 0); }};
    }
    children.get(parent).push(entry);
  }
  const event = new Event('drop', {bubbles: true, cancelable: true});
  Object.defineProperty(event, 'dataTransfer', {value: {items: [{kind: 'file', webkitGetAsEntry: () => entryOf.get(top)}]}});
  document.body.dispatchEvent(event);
}

// In the page: a drop of one file (`file`, its bytes in base64, named `top`), as Chromium hands
// one: a DataTransfer item whose entry is a file.
export function dropFileInPage({top, file}) {
  const data = new File([Uint8Array.from(atob(file), c => c.charCodeAt(0))], top);
  const entry = {isDirectory: false, isFile: true, name: top, fullPath: '/' + top, file: (ok) => setTimeout(() => ok(data), 0)};
  const event = new Event('drop', {bubbles: true, cancelable: true});
  Object.defineProperty(event, 'dataTransfer', {value: {items: [{kind: 'file', webkitGetAsEntry: () => entry}]}});
  document.body.dispatchEvent(event);
}

// In the page: the directory picker replaced by one that answers with the folder `dropItems`
// described, as directory and file handles of the test's own (for a page from file://, where
// the origin-private file system is refused). Each call is counted in window.__pickerCalls.
export function pickerInPage({top, items}) {
  const directory = (name) => ({
    kind: 'directory', name, children: [],
    async* entries() { for (const child of this.children) yield [child.name, child]; },
  });
  const dirs = new Map([[top, directory(top.slice(1))]]);
  for (const item of items) {
    const parent = dirs.get(item.path.slice(0, item.path.lastIndexOf('/')));
    const name = item.path.split('/').pop();
    if (item.kind === 'dir') {
      const dir = directory(name);
      dirs.set(item.path, dir);
      parent.children.push(dir);
    } else {
      const file = new File([Uint8Array.from(atob(item.data), c => c.charCodeAt(0))], name);
      parent.children.push({kind: 'file', name, getFile: async () => file});
    }
  }
  window.__pickerCalls = 0;
  window.showDirectoryPicker = () => {
    window.__pickerCalls += 1;
    return Promise.resolve(dirs.get(top));
  };
}

// In the page (from http://127.0.0.1): the same, with real directory and file handles of the
// origin-private file system, empty folders included.
export async function opfsPickerInPage({top, items}) {
  const storage = await navigator.storage.getDirectory();
  const name = top.slice(1);
  await storage.removeEntry(name, {recursive: true}).catch(() => {});
  const dirs = new Map([[top, await storage.getDirectoryHandle(name, {create: true})]]);
  for (const item of items) {
    const parent = dirs.get(item.path.slice(0, item.path.lastIndexOf('/')));
    const leaf = item.path.split('/').pop();
    if (item.kind === 'dir') {
      dirs.set(item.path, await parent.getDirectoryHandle(leaf, {create: true}));
    } else {
      const writable = await (await parent.getFileHandle(leaf, {create: true})).createWritable();
      await writable.write(Uint8Array.from(atob(item.data), c => c.charCodeAt(0)));
      await writable.close();
    }
  }
  window.__pickerCalls = 0;
  window.showDirectoryPicker = () => {
    window.__pickerCalls += 1;
    return Promise.resolve(dirs.get(top));
  };
}

// In the page, at any time before a check: what the page reads of the files it holds, seen from
// outside its code. window.__reads.byName: the bytes read of each file (by its name, slices
// included); inFlight and peak: the bytes read and not yet handed on, a batch of files for the
// digest workers counted until its digests come back.
export function countReadsInPage() {
  const names = new WeakMap();
  const reads = window.__reads = {byName: {}, inFlight: 0, peak: 0};
  const nameOf = (blob) => (blob instanceof File ? blob.name : names.get(blob));
  const slice = Blob.prototype.slice;
  Blob.prototype.slice = function (...args) {
    const part = slice.apply(this, args);
    names.set(part, nameOf(this));
    return part;
  };
  const arrayBuffer = Blob.prototype.arrayBuffer;
  Blob.prototype.arrayBuffer = function () {
    const name = nameOf(this);
    if (name) reads.byName[name] = (reads.byName[name] || 0) + this.size;
    reads.inFlight += this.size;
    reads.peak = Math.max(reads.peak, reads.inFlight);
    return arrayBuffer.call(this);
  };
  const batches = new Map();
  const post = Worker.prototype.postMessage;
  Worker.prototype.postMessage = function (m, transfer) {
    if (m && m.tasks) {
      if (m.tasks.length) batches.set(m.tasks[0].index, m.data ? m.data.byteLength : 0);
    } else {
      for (const t of transfer || []) if (t instanceof ArrayBuffer) reads.inFlight -= t.byteLength;
    }
    return post.call(this, m, transfer);
  };
  const handler = Object.getOwnPropertyDescriptor(Worker.prototype, 'onmessage');
  Object.defineProperty(Worker.prototype, 'onmessage', {
    configurable: true,
    get() { return handler.get.call(this); },
    set(f) {
      handler.set.call(this, f && ((e) => {
        const d = e.data;
        if (d && d.type === 'done' && d.indices && d.indices.length && batches.has(d.indices[0])) {
          reads.inFlight -= batches.get(d.indices[0]);
          batches.delete(d.indices[0]);
        }
        return f(e);
      }));
    },
  });
}

// The size of the check data at the end of the checker `file`, from its trailer, and the bytes
// that hold it and the trailer.
export function checkerTail(file) {
  const bytes = fs.readFileSync(file);
  const length = bytes.readUInt32LE(bytes.length - 12);
  return length + 16;
}
