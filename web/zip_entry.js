// One entry of a zip read from the zip File itself, nothing unpacked to disk: its local header
// read to find where its data begins, then its data streamed, stored as it is or inflated by
// the browser's DecompressionStream('deflate-raw'), into the caller's digests. The zip's
// directory, the entry's facts and what its outcome means are the check's (WebAssembly) own;
// this only reads. Plain functions, no module syntax: the page's build puts this text in front
// of the digest worker's script.
'use strict';

const ZIP_SLICE = 1 << 20;       // bytes of the zip read at a time: never the whole zip
// Compressed bytes handed to the inflater at a time. Deflate inflates up to 1,032 times its
// size, and the browser enqueues all that one write gives before it looks at the reader:
// this bounds what stands in memory at once (about 33 MiB at worst, far less in practice).
const ZIP_FEED = 1 << 15;
// The browser frees the ArrayBuffers of the pieces read and inflated only when the worker's
// heap is collected, and the few small objects a piece costs hardly ever make it collect: a
// 4 GiB entry of zeros grew the tab by 650 to 790 MiB. An ArrayBuffer of 128 MiB, never
// written to (no memory), made and let go after every 32 MiB has the engine count that much
// outside its heap and collect, as the page does over its files: some 210 MiB.
const ZIP_COLLECT_EVERY = 32 << 20;
const ZIP_COLLECT_NUDGE = 128 << 20;
let zipSinceCollect = 0;
let zipNudge = null;
const ZIP_LOCAL_HEADER = 30;
const ZIP_LOCAL_SIGNATURE = 0x04034b50;  // PK\3\4
// Entries of at most ZIP_RUN_ENTRY compressed bytes that lie next to one another are read
// together, local headers and data, in one slice of at most ZIP_RUN bytes: each read of a File
// costs the browser far more than its bytes (20,000 entries of 0-16 KiB, two reads each, took
// 3.4 times as long as the same files unpacked, which the page reads 64 to a Blob). A local
// header's name and extra field are taken to fit in ZIP_HEADER_ROOM bytes; where they do not,
// the entry's bytes beyond the slice are read on their own.
const ZIP_RUN_ENTRY = 8 << 20;
const ZIP_RUN = 16 << 20;
const ZIP_HEADER_ROOM = 1024;

// The most of the zip that reading `entry` holds at once: an entry read in a run holds its
// compressed bytes, a larger one a slice (and what a piece of it inflates to).
function zipHolds(entry) {
  return entry.compressedSize <= ZIP_RUN_ENTRY ? entry.compressedSize : ZIP_SLICE;
}

// The File's own failures: removed or changed since it was chosen.
function zipReadFault(error) {
  return error instanceof DOMException &&
      (error.name === 'NotFoundError' || error.name === 'NotReadableError');
}

function zipAllocated(size) {
  zipSinceCollect += size;
  if (zipSinceCollect < ZIP_COLLECT_EVERY) return;
  zipSinceCollect = 0;
  zipNudge = new ArrayBuffer(ZIP_COLLECT_NUDGE);
  zipNudge = null;
}

async function zipBytesAt(blob, start, end) {
  const run = blob.run;
  if (run && start >= run.start && end <= run.start + run.bytes.length) {
    return run.bytes.subarray(start - run.start, end - run.start);
  }
  const bytes = new Uint8Array(await blob.slice(start, end).arrayBuffer());
  zipAllocated(bytes.length);
  return bytes;
}

// `entries` (the facts digestZipEntry takes) gathered into runs, each to be read in one slice:
// [{start, end, entries}], in the order of their offsets. An entry larger than ZIP_RUN_ENTRY, or
// compressed in another way than stored or deflated, is in no run.
function zipRuns(entries, zipSize) {
  const runs = [];
  let run = null;
  const sorted = entries.filter(e => e.compressedSize <= ZIP_RUN_ENTRY && (e.method === 0 || e.method === 8))
                     .sort((a, b) => a.offset - b.offset);
  for (const entry of sorted) {
    const end = Math.min(zipSize, entry.offset + ZIP_LOCAL_HEADER + ZIP_HEADER_ROOM + entry.compressedSize);
    if (run && entry.offset <= run.end && Math.max(run.end, end) - run.start <= ZIP_RUN) {
      run.end = Math.max(run.end, end);
      run.entries.push(entry);
    } else {
      runs.push(run = {start: entry.offset, end, entries: [entry]});
    }
  }
  return runs;
}

// The zip `blob` with the bytes of `run` read ahead, which digestZipEntry then takes from
// memory; what lies outside them it reads from `blob`. `blob` itself where the run cannot be
// read: each entry then meets the failure on its own.
async function zipReadRun(blob, run) {
  try {
    const bytes = await zipBytesAt(blob, run.start, run.end);
    return {size: blob.size, slice: (start, end) => blob.slice(start, end), run: {start: run.start, bytes}};
  } catch (error) {
    if (!zipReadFault(error)) throw error;
    return blob;
  }
}

// Digests the data of one entry of the zip `blob`. `entry`: {offset (of its local header),
// compressedSize, size (declared), method (0 stored, 8 deflated), crc32}, Numbers that may
// exceed 4 GiB. `sink.update(bytes)` and `sink.crc(bytes)` receive its bytes in order, never
// more than `size` of them. Returns {bytes: how many were handed on, outcome}:
//   'whole'       exactly `size` bytes (whether their CRC-32 is `crc32` is the caller's to say)
//   'corrupt'     the data cannot be inflated, ends short of `size` or gives more than `size`,
//                 or no local header stands at `offset`
//   'incomplete'  the local header or the data runs past the end of the zip: cut short
//   'unreadable'  the File could not be read (removed or changed since it was chosen)
//   'unsupported' another method than stored or deflated (the check does not ask for these)
async function digestZipEntry(blob, entry, sink) {
  const progress = {bytes: 0};
  const hand = async (bytes) => {
    progress.bytes += bytes.length;
    await sink.update(bytes);
    await sink.crc(bytes);
  };
  let outcome;
  try {
    outcome = await zipEntryData(blob, entry, hand, progress);
  } catch (error) {
    if (!zipReadFault(error)) throw error;
    outcome = 'unreadable';
  }
  return {bytes: progress.bytes, outcome};
}

async function zipEntryData(blob, entry, hand, progress) {
  if (entry.method !== 0 && entry.method !== 8) return 'unsupported';
  // Read before its size is believed: a File removed since it was chosen says so on reading.
  const header = await zipBytesAt(blob, entry.offset, entry.offset + ZIP_LOCAL_HEADER);
  if (header.length < ZIP_LOCAL_HEADER) return 'incomplete';
  const fields = new DataView(header.buffer, header.byteOffset, header.length);
  if (fields.getUint32(0, true) !== ZIP_LOCAL_SIGNATURE) return 'corrupt';
  // The local header's own name and extra field lengths: they may differ from the directory's.
  const start = entry.offset + ZIP_LOCAL_HEADER + fields.getUint16(26, true) + fields.getUint16(28, true);
  if (start + entry.compressedSize > blob.size) return 'incomplete';
  if (entry.method === 0) return zipStored(blob, start, entry, hand, progress);
  return zipInflated(blob, start, entry, hand, progress);
}

async function zipStored(blob, start, entry, hand, progress) {
  const end = Math.min(entry.size, entry.compressedSize);
  for (let at = 0; at < end;) {
    const next = Math.min(at + ZIP_SLICE, end);
    await hand(await zipBytesAt(blob, start + at, start + next));
    at = next;
  }
  if (entry.compressedSize !== entry.size) return 'corrupt';  // short of it, or more than it
  return 'whole';
}

// The contents of deflate data made of stored blocks only, as deflate keeps data that does not
// compress (zip -6 writes most of a folder of compressed media so): the subarrays of `data`
// that the blocks hold, in order; null where the data is anything else, or not exactly one such
// stream (DecompressionStream then inflates it, and says what is wrong with it). Each block,
// byte-aligned: a byte whose bit 0 marks the last block and whose bits 1-2 are 0 (stored), the
// length and its one's complement (16 bits each), the bytes.
function zipStoredBlocks(data) {
  const pieces = [];
  for (let at = 0;;) {
    if (at + 5 > data.length) return null;
    const head = data[at];
    const length = data[at + 1] | data[at + 2] << 8;
    if ((head & 6) !== 0 || (length ^ (data[at + 3] | data[at + 4] << 8)) !== 0xFFFF) return null;
    at += 5;
    if (at + length > data.length) return null;
    if (length > 0) pieces.push(data.subarray(at, at + length));
    at += length;
    if (head & 1) return at === data.length ? pieces : null;
  }
}

async function zipInflated(blob, start, entry, hand, progress) {
  // Read ahead in a run, and made of stored blocks: their contents are handed on as they are.
  // Each inflated piece costs DecompressionStream some 40 microseconds: over 1 GiB that
  // compresses no further the page spent a quarter of its time there.
  const run = blob.run;
  const from = run ? start - run.start : -1;
  const blocks = from >= 0 && from + entry.compressedSize <= run.bytes.length ?
      zipStoredBlocks(run.bytes.subarray(from, from + entry.compressedSize)) : null;
  if (blocks) {
    for (const piece of blocks) {
      const room = entry.size - progress.bytes;
      if (piece.length > room) {
        if (room > 0) await hand(piece.subarray(0, room));
        return 'corrupt';
      }
      await hand(piece);
    }
    return progress.bytes === entry.size ? 'whole' : 'corrupt';
  }
  const stream = new DecompressionStream('deflate-raw');
  const writer = stream.writable.getWriter();
  const reader = stream.readable.getReader();
  let stopped = false;    // the reading side has its answer: nothing more is fed
  let readFault = null;   // the File's failure, not the data's
  // Fed one piece at a time, each awaited: the reading side below takes what it gives.
  const feeding = (async () => {
    try {
      for (let at = 0; at < entry.compressedSize && !stopped;) {
        const next = Math.min(at + ZIP_SLICE, entry.compressedSize);
        const slice = await zipBytesAt(blob, start + at, start + next);
        at = next;
        for (let p = 0; p < slice.length && !stopped; p += ZIP_FEED) {
          await writer.write(slice.subarray(p, p + ZIP_FEED));
        }
      }
      if (!stopped) await writer.close();
    } catch (error) {
      // Inflating errors show on the reading side as well; a failure of the File is passed
      // there by aborting the stream with it.
      if (zipReadFault(error)) {
        readFault = error;
        writer.abort(error).catch(() => {});
      }
    }
  })();
  let outcome = null;
  try {
    for (;;) {
      let piece;
      try {
        piece = await reader.read();
      } catch (error) {
        if (!zipReadFault(error)) outcome = 'corrupt';  // not deflate, or it ends too soon
        break;
      }
      if (piece.done) break;
      zipAllocated(piece.value.length);
      const room = entry.size - progress.bytes;
      if (piece.value.length > room) {
        // More than declared: what lies beyond it is not handed on.
        if (room > 0) await hand(piece.value.subarray(0, room));
        outcome = 'corrupt';
        break;
      }
      await hand(piece.value);
    }
  } finally {
    stopped = true;
    reader.cancel().catch(() => {});
  }
  await feeding;
  if (readFault) throw readFault;
  if (outcome) return outcome;
  return progress.bytes === entry.size ? 'whole' : 'corrupt';
}
