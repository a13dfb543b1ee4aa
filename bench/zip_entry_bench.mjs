// The page's reader of one zip entry (web/zip_entry.js, digestZipEntry) in headless Chromium,
// against `unzip -t` over the same entry: its time, and the growth of the tab's memory (the
// peak resident set, VmHWM, of the browser's renderer processes) while it reads. The entries:
// 1 GiB of zeros (deflate near its largest ratio, some 1,000:1), 256 MiB of base64 text
// (deflated to three quarters) and 256 MiB of pseudo-random bytes stored, zipped by Debian's
// zip. The sink only counts: what is timed is reading and inflating, not the digests.
//
// usage: node bench/zip_entry_bench.mjs [--work DIR] [--rounds 3] [--zeros GIB] [--feed BYTES]
//                                       [--entries zeros.dat,text.txt,noise.bin] [--keep]
// (--zeros: GiB of zeros instead of 1, in a --work of its own; --feed tries another size of
// the pieces handed to the inflater, ZIP_FEED.)
// Needs what tests/web needs (tools/install-deps.sh): Chromium and playwright-core.
import {execFileSync, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';
import {fileURLToPath} from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const require = createRequire(path.join(root, 'tests/web/'));
const {chromium} = require('playwright-core');
const args = {work: path.join(os.tmpdir(), 'vexorin-zip-entry-bench'), rounds: '3', zeros: '1',
              entries: 'zeros.dat,text.txt,noise.bin'};
for (let i = 2; i < process.argv.length; ++i) {
  const key = process.argv[i].replace(/^--/, '');
  args[key] = key === 'keep' ? true : process.argv[++i];
}
let script = fs.readFileSync(path.join(root, 'web/zip_entry.js'), 'utf8');
if (args.feed) script = script.replace(/const ZIP_FEED = [^;]+;/, `const ZIP_FEED = ${Number(args.feed)};`);

const MiB = 1 << 20;
const zipPath = path.join(args.work, 'bench.zip');
if (!fs.existsSync(zipPath)) {
  const files = path.join(args.work, 'files');
  fs.mkdirSync(files, {recursive: true});
  execFileSync('python3', ['-c', `import base64, random, sys
r = random.Random(7)
with open(sys.argv[1] + "/text.txt", "wb") as f:
    for _ in range(256):
        f.write(base64.encodebytes(r.randbytes(786432))[:1048576].ljust(1048576, b"A"))
with open(sys.argv[1] + "/noise.bin", "wb") as f:
    for _ in range(256):
        f.write(r.randbytes(1048576))
with open(sys.argv[1] + "/zeros.dat", "wb") as f:
    f.truncate(int(sys.argv[2]) << 30)`, files, args.zeros]);
  execFileSync('zip', ['-q', '-0', zipPath, 'noise.bin'], {cwd: files});
  execFileSync('zip', ['-q', '-6', zipPath, 'zeros.dat', 'text.txt'], {cwd: files});
  fs.rmSync(files, {recursive: true});
}
const entries = JSON.parse(execFileSync('python3', ['-c', `import json, sys, zipfile
print(json.dumps({i.filename: {"offset": i.header_offset, "compressedSize": i.compress_size,
                  "size": i.file_size, "method": i.compress_type, "crc32": i.CRC}
                  for i in zipfile.ZipFile(sys.argv[1]).infolist()}))`, zipPath]).toString());

// The largest peak resident set among the renderer processes below the process `pid`.
function rendererPeak(pid) {
  const children = new Map();
  for (const p of fs.readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
    try {
      const parent = Number(fs.readFileSync(`/proc/${p}/stat`, 'utf8').split(') ')[1].split(' ')[1]);
      if (!children.has(parent)) children.set(parent, []);
      children.get(parent).push(Number(p));
    } catch { /* gone */ }
  }
  let peak = 0;
  const walk = (p) => {
    for (const child of children.get(p) || []) {
      try {
        if (fs.readFileSync(`/proc/${child}/cmdline`, 'utf8').includes('--type=renderer')) {
          const kb = Number(/VmHWM:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${child}/status`, 'utf8'))[1]);
          peak = Math.max(peak, kb * 1024);
        }
      } catch { /* gone */ }
      walk(child);
    }
  };
  walk(pid);
  return peak;
}

// One entry read in a fresh browser: seconds, and the renderer's peak growth in bytes.
async function inBrowser(name) {
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: ['--no-sandbox']});
  const page = await browser.newPage();
  await page.setContent('<input type="file" id="zip">');
  await page.setInputFiles('#zip', zipPath);
  await page.evaluate(() => document.getElementById('zip').files[0].size);
  const pid = process.pid;  // the browser is this script's child
  const before = rendererPeak(pid);
  // Read in a worker, as the page's digest workers read.
  const result = await page.evaluate(async ([entry, text]) => {
    const source = text + `
onmessage = async ({data: [file, entry]}) => {
  let largest = 0;
  const start = performance.now();
  const got = await digestZipEntry(file, entry, {
    update(bytes) { largest = Math.max(largest, bytes.length); },
    crc() {},
  });
  postMessage({...got, largest, seconds: (performance.now() - start) / 1000});
};`;
    const worker = new Worker(URL.createObjectURL(new Blob([source], {type: 'text/javascript'})));
    const done = new Promise((ok) => { worker.onmessage = ({data}) => ok(data); });
    worker.postMessage([document.getElementById('zip').files[0], entry]);
    return done;
  }, [entries[name], script]);
  const peak = rendererPeak(pid);
  await browser.close();
  if (result.outcome !== 'whole' || result.bytes !== entries[name].size) throw new Error(`${name}: ${JSON.stringify(result)}`);
  return {seconds: result.seconds, growth: peak - before, largest: result.largest};
}

function unzipTest(name) {
  const start = process.hrtime.bigint();
  const r = spawnSync('unzip', ['-tq', zipPath, name]);
  if (r.status !== 0) throw new Error(`unzip -t ${name}: ${r.stdout}`);
  return Number(process.hrtime.bigint() - start) / 1e9;
}

const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];
const cpu = (fs.readFileSync('/proc/cpuinfo', 'utf8').match(/model name\s*:\s*(.*)/) || [])[1];
console.log(`${cpu}, ${os.cpus().length} cores, load ${os.loadavg()[0].toFixed(1)}; ZIP_FEED ${/const ZIP_FEED = ([^;]+);/.exec(script)[1]}`);
console.log('| Entry | `unzip -t` | digestZipEntry | Ratio | Memory growth (peak) | Largest piece |');
console.log('|---|---|---|---|---|---|');
for (const name of args.entries.split(',')) {
  const e = entries[name];
  const unzip = [], page = [], growth = [];
  let largest = 0;
  for (let round = 0; round < Number(args.rounds); ++round) {
    unzip.push(unzipTest(name));
    const got = await inBrowser(name);
    page.push(got.seconds);
    growth.push(got.growth);
    largest = Math.max(largest, got.largest);
  }
  console.log(`| ${name}: ${(e.size / MiB).toFixed(0)} MiB, ${(e.compressedSize / MiB).toFixed(1)} MiB in the zip, ` +
              `${e.method ? 'deflated' : 'stored'} | ${median(unzip).toFixed(2)} s | ${median(page).toFixed(2)} s | ` +
              `${(median(page) / median(unzip)).toFixed(2)} × | ${(median(growth) / MiB).toFixed(1)} MiB ` +
              `(${(Math.min(...growth) / MiB).toFixed(1)}–${(Math.max(...growth) / MiB).toFixed(1)}) | ${(largest / 1024).toFixed(0)} KiB |`);
}
console.log(`load ${os.loadavg()[0].toFixed(1)} at the end`);
if (!args.keep) fs.rmSync(args.work, {recursive: true, force: true});
