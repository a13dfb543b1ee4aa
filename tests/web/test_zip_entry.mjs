// The page's reader of one zip entry (web/zip_entry.js) in a real headless Chromium (Debian's,
// driven by playwright-core): zips made by Debian's zip, chosen as files the way the page gets
// them, each entry's bytes compared with the md5sum of what unzip unpacks, and the entries
// that are not whole: a byte that breaks the deflate data, a zip cut short, a declared size that
// is not the data's, a local header that is not where the directory says, a file removed. Every
// case twice: the entry read alone, and read ahead with the entries beside it in one slice, as
// the digest workers read a batch (zipRuns, zipReadRun), where the result must be the same.
// The entries' facts come from Python's zipfile, a reader that is neither the page's nor ours.
//
// usage: node test_zip_entry.mjs --script web/zip_entry.js [--chromium CHROMIUM]
import {spawnSync} from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';
import {parseArgs, check, same, finish} from './page_support.mjs';

const require = createRequire(import.meta.url);
const {chromium} = require('playwright-core');
const args = parseArgs(['script']);

function run(tool, toolArgs, cwd) {
  const r = spawnSync(tool, toolArgs, {cwd, maxBuffer: 1 << 26});
  if (r.status !== 0) throw new Error(`${tool} ${toolArgs.join(' ')}: ${r.stderr}`);
  return r.stdout.toString();
}

// Bytes that do not repeat (a linear congruential generator's high bytes).
function noise(size, seed) {
  const out = Buffer.alloc(size);
  let x = seed >>> 0;
  for (let i = 0; i < size; i++) {
    x = (Math.imul(x, 1664525) + 1013904223) >>> 0;
    out[i] = x >>> 24;
  }
  return out;
}

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vxzipentry-'));
const files = path.join(scratch, 'files');
fs.mkdirSync(files);
// Stored, and deflated, each over several 1 MiB slices of the zip; zeros that inflate 1,000
// times their size; an empty file.
fs.writeFileSync(path.join(files, 'noise.bin'), noise(2621443, 1));
fs.writeFileSync(path.join(files, 'text.txt'), noise(3145739, 2).toString('hex'));
fs.writeFileSync(path.join(files, 'zeros.dat'), Buffer.alloc(16 << 20));
fs.writeFileSync(path.join(files, 'empty.txt'), Buffer.alloc(0));
const zipFile = path.join(scratch, 'game.zip');
run('zip', ['-q', '-0', zipFile, 'noise.bin', 'empty.txt'], files);
run('zip', ['-q', '-9', zipFile, 'text.txt', 'zeros.dat'], files);
// An entry whose local header's extra field is longer than a run's slice allows for it.
run('python3', ['-c', `import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a") as z:
    info = zipfile.ZipInfo("long-extra.txt")
    info.extra = bytes([0x99, 0x99, 0xF4, 0x07]) + bytes(2036)
    z.writestr(info, b"after the long extra field. " * 40)`, zipFile]);
// Deflated data that does not compress: zlib keeps it in stored blocks.
fs.writeFileSync(path.join(files, 'blocks.bin'), noise(1048583, 3));
run('python3', ['-c', `import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a", zipfile.ZIP_DEFLATED) as z:
    z.write("blocks.bin")`, zipFile], files);
const unpacked = path.join(scratch, 'unpacked');
run('unzip', ['-q', zipFile, '-d', unpacked]);
const md5sum = Object.fromEntries(run('md5sum', fs.readdirSync(unpacked), unpacked).trim().split('\n')
  .map((line) => [line.slice(34), line.slice(0, 32)]));
const entries = Object.fromEntries(JSON.parse(run('python3', ['-c', `import json, sys, zipfile
print(json.dumps([[i.filename, {"offset": i.header_offset, "compressedSize": i.compress_size,
                   "size": i.file_size, "method": i.compress_type, "crc32": i.CRC}]
                  for i in zipfile.ZipFile(sys.argv[1]).infolist()]))`, zipFile])));
same(Object.keys(entries).map((name) => [name, entries[name].method]),
     [['noise.bin', 0], ['empty.txt', 0], ['text.txt', 8], ['zeros.dat', 8], ['long-extra.txt', 0], ['blocks.bin', 8]],
     'the zip holds what the cases need');

const raw = fs.readFileSync(zipFile);
const dataStart = (entry) => entry.offset + 30 + raw.readUInt16LE(entry.offset + 26) + raw.readUInt16LE(entry.offset + 28);
// The first byte of a deflate stream with block type 3, which no deflate stream has.
const broken = Buffer.from(raw);
broken[dataStart(entries['text.txt'])] = 0x07;
// A stored block's length whose complement does not match.
const blocks = entries['blocks.bin'];
broken[dataStart(blocks) + 3] ^= 1;
fs.writeFileSync(path.join(scratch, 'broken.zip'), broken);
// Cut in the middle of text.txt's data, as a download that broke off.
fs.writeFileSync(path.join(scratch, 'cut.zip'), raw.subarray(0, dataStart(entries['text.txt']) + 1000));
fs.copyFileSync(zipFile, path.join(scratch, 'removed.zip'));

const browser = await chromium.launch({
  executablePath: args.chromium || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update', '--no-first-run'],
});
const page = await browser.newPage();
const errors = [];
page.on('pageerror', (error) => errors.push(String(error)));
await page.setContent('<input type="file" id="zips" multiple>');
await page.addScriptTag({path: args.script});
await page.setInputFiles('#zips', ['game.zip', 'broken.zip', 'cut.zip', 'removed.zip'].map((n) => path.join(scratch, n)));
// The check reads each zip's directory before any entry: Chromium takes a File's size and time
// when first asked, and a File removed before that merely reads as empty.
await page.evaluate(async () => {
  for (const f of document.getElementById('zips').files) await f.slice(f.size - 22).arrayBuffer();
});
fs.rmSync(path.join(scratch, 'removed.zip'));

// In the page: digestZipEntry over the chosen zip `zip` for `entry`, read alone, or with `runWith`
// read ahead in the run of those entries that holds it; what it returned, the bytes the sink got
// (base64), and whether the CRC side got each piece the digest side got.
async function digestInPage([zip, entry, runWith]) {
  const file = [...document.getElementById('zips').files].find((f) => f.name === zip);
  let source = file;
  const run = runWith && zipRuns(runWith, file.size).find((r) => r.entries.some((e) => e.offset === entry.offset));
  if (run) source = await zipReadRun(file, run);
  const pieces = [];
  let sameForCrc = true;
  const result = await digestZipEntry(source, entry, {
    update(bytes) { pieces.push(bytes.slice()); },
    crc(bytes) { sameForCrc = sameForCrc && bytes.length === pieces[pieces.length - 1].length; },
  });
  const dataUrl = await new Promise((ok) => {
    const reader = new FileReader();
    reader.onload = () => ok(reader.result);
    reader.readAsDataURL(new Blob(pieces));
  });
  return {...result, inRun: Boolean(run), sameForCrc, data: dataUrl.slice(dataUrl.indexOf(',') + 1)};
}
let inRuns = false;
const digest = async (zip, entry) => {
  // The entry in a run with the zip's other entries, itself as the case gives it.
  const runWith = inRuns ? [entry, ...Object.values(entries).filter((e) => e.offset !== entry.offset)] : null;
  const got = await page.evaluate(digestInPage, [zip, entry, runWith]);
  if (inRuns) check(got.inRun, `${entry.offset}: read in a run`);
  got.data = Buffer.from(got.data, 'base64');
  return got;
};
const md5 = (bytes) => crypto.createHash('md5').update(bytes).digest('hex');

same(await page.evaluate(([at, size]) => {
  const file = [...document.getElementById('zips').files].find((f) => f.name === 'game.zip');
  return file.slice(at, at + size).arrayBuffer().then((data) => zipStoredBlocks(new Uint8Array(data)).length);
}, [dataStart(blocks), blocks.compressedSize]), 64, 'blocks.bin is deflate\'s stored blocks, 64 of them');

let got;
for (const how of ['', 'in a run: ']) {
  inRuns = how !== '';
  // Whole: every entry as unzip unpacks it.
  for (const [name, entry] of Object.entries(entries)) {
    got = await digest('game.zip', entry);
    same([got.outcome, got.bytes, got.data.length, md5(got.data), got.sameForCrc],
         ['whole', entry.size, entry.size, md5sum[name], true], `${how}${name}: whole, the bytes unzip unpacks`);
  }

  const text = entries['text.txt'];
  got = await digest('broken.zip', text);
  same(got.outcome, 'corrupt', `${how}a deflate stream that cannot be inflated: corrupt`);
  got = await digest('broken.zip', blocks);
  same(got.outcome, 'corrupt', `${how}stored blocks, one length broken: corrupt`);
  got = await digest('game.zip', {...blocks, size: blocks.size - 3});
  same([got.outcome, got.bytes], ['corrupt', blocks.size - 3], `${how}stored blocks, more than the declared size: corrupt`);
  got = await digest('game.zip', {...blocks, size: blocks.size + 3});
  same([got.outcome, got.bytes], ['corrupt', blocks.size], `${how}stored blocks, short of the declared size: corrupt`);
  got = await digest('cut.zip', text);
  same([got.outcome, got.bytes], ['incomplete', 0], `${how}data past the end of a zip cut short: incomplete, nothing handed on`);
  got = await digest('cut.zip', entries['zeros.dat']);
  same(got.outcome, 'incomplete', `${how}a local header past the end of a zip cut short: incomplete`);

  // Declared sizes that are not the data's: never more than declared handed on.
  got = await digest('game.zip', {...text, size: text.size - 5});
  same([got.outcome, got.bytes, md5(got.data)],
       ['corrupt', text.size - 5, md5(fs.readFileSync(path.join(unpacked, 'text.txt')).subarray(0, text.size - 5))],
       `${how}deflated past its declared size: corrupt, the declared bytes handed on and no more`);
  got = await digest('game.zip', {...entries['zeros.dat'], size: 1000});
  same([got.outcome, got.bytes], ['corrupt', 1000], `${how}zeros that inflate far past a small declared size: corrupt at it`);
  got = await digest('game.zip', {...text, size: text.size + 1});
  same([got.outcome, got.bytes], ['corrupt', text.size], `${how}deflated short of its declared size: corrupt`);
  const noiseEntry = entries['noise.bin'];
  got = await digest('game.zip', {...noiseEntry, size: noiseEntry.size - 3});
  same([got.outcome, got.bytes], ['corrupt', noiseEntry.size - 3], `${how}stored, more than its declared size: corrupt`);
  got = await digest('game.zip', {...noiseEntry, size: noiseEntry.size + 3});
  same([got.outcome, got.bytes], ['corrupt', noiseEntry.size], `${how}stored, short of its declared size: corrupt`);
  got = await digest('game.zip', {...noiseEntry, offset: noiseEntry.offset + 1});
  same(got.outcome, 'corrupt', `${how}no local header where the directory says: corrupt`);

  got = await digest('removed.zip', text);
  same(got.outcome, 'unreadable', `${how}a zip removed since it was chosen: unreadable`);
}

same(errors, [], 'no error in the page');
await browser.close();
fs.rmSync(scratch, {recursive: true, force: true});
finish();
