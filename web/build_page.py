#!/usr/bin/env python3
"""Writes vexorin-check.html: the page's template with its style, its script, its workers'
scripts (the digest worker's with the reader of a zip's entries in front) and both WebAssembly
builds of the check inside, and a Content-Security-Policy that allows exactly these (by hash)
and no connection of any kind.

usage: build_page.py --simd CHECK_SIMD.wasm --scalar CHECK.wasm --out vexorin-check.html
"""
import argparse
import base64
import hashlib
import pathlib

HERE = pathlib.Path(__file__).resolve().parent


def source_hash(text):
    return "'sha256-" + base64.b64encode(hashlib.sha256(text.encode()).digest()).decode() + "'"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--simd", required=True)
    parser.add_argument("--scalar", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    style = (HERE / "page.css").read_text()
    worker = (HERE / "worker.js").read_text()
    # The digest workers read a zip's entries, and the page inflates the checker inside a zip:
    # the reader of one entry goes in front of both scripts.
    zip_entry = (HERE / "zip_entry.js").read_text()
    script = zip_entry + "\n" + (HERE / "page.js").read_text()
    digest_worker = zip_entry + "\n" + (HERE / "digest_worker.js").read_text()
    for name, text in (("page.js", script), ("worker.js", worker), ("zip_entry.js", zip_entry),
                       ("digest_worker.js", digest_worker)):
        if "</script" in text.lower():
            raise SystemExit(f"{name} must not hold a closing script tag")
    # default-src 'none' forbids every fetch, connection, frame, font and image; the worker
    # comes from a blob: URL of the page's own text, and WebAssembly needs wasm-unsafe-eval.
    csp = ("default-src 'none'; script-src " + source_hash(script) + " 'wasm-unsafe-eval'; "
           "style-src " + source_hash(style) + "; worker-src blob:; base-uri 'none'; form-action 'none'")
    page = (HERE / "page.html").read_text()
    parts = {
        "@CSP@": csp,
        "@STYLE@": style,
        "@PAGE@": script,
        "@WORKER@": worker,
        "@DIGEST_WORKER@": digest_worker,
        "@WASM_SIMD@": base64.b64encode(pathlib.Path(args.simd).read_bytes()).decode(),
        "@WASM_SCALAR@": base64.b64encode(pathlib.Path(args.scalar).read_bytes()).decode(),
    }
    for key, value in parts.items():
        if page.count(key) != 1:
            raise SystemExit(f"the template must hold {key} once")
        page = page.replace(key, value)
    pathlib.Path(args.out).write_bytes(page.encode())


if __name__ == "__main__":
    main()
