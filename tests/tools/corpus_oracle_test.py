#!/usr/bin/env python3
"""Compares, per corpus message, the decoded leaves that corvanta-eml finds
(text body, HTML body, attachments) with those of an independent parser
(oracle.jsonl), by SHA-256. Leaves inside attached messages and leaves the
oracle could not hash are left out. The oracle reads text with LF line ends,
so a leaf also matches when our bytes with LF line ends equal its bytes (or,
for the bodies, its bytes with LF line ends). Prints the agreement and
the files that differ; fails below 95% of leaves."""
import json
import os
import subprocess
import sys
from collections import Counter

TOOL, CORPUS = sys.argv[1], sys.argv[2]
THRESHOLD = 0.95


def oracle_leaves(rec):
    """The oracle's leaves to compare, and how many were left out:
    multipart/* leaves are multiparts its parser could not split (no boundary
    found), so their text is no leaf of the message; empty leaves are parts
    without content, for which our engine makes no part by design."""
    leaves = []
    skipped = 0
    for key in ("text", "html"):
        if rec.get(key):
            if rec[key]["length"] == 0:
                skipped += 1
                continue
            leaves.append((rec[key]["sha256"], rec[key]["sha256_lf"]))
    for a in rec.get("attachments", []):
        if a.get("in_message") or a.get("sha256") is None:
            continue
        if (a.get("content_type") or "").startswith("multipart/") or a.get("length") == 0:
            skipped += 1
            continue
        leaves.append((a["sha256"], None))
    return leaves, skipped


def our_leaves(path):
    out = subprocess.run([TOOL, "json", path], capture_output=True, timeout=60)
    if out.returncode != 0:
        raise RuntimeError(out.stderr.decode(errors="replace").strip())
    doc = json.loads(out.stdout)
    leaves = [doc[k] for k in ("text", "html") if doc[k]]
    leaves += doc["attachments"]
    return [(leaf["sha256"], leaf["sha256_lf"]) for leaf in leaves]


def main():
    if not os.path.isfile(os.path.join(CORPUS, "oracle.jsonl")):
        print(f"skipped: no corpus at {CORPUS}")
        return 0
    total = matched = unsplit = 0
    differing = []
    with open(os.path.join(CORPUS, "oracle.jsonl"), encoding="utf-8") as f:
        records = [json.loads(line) for line in f if line.strip()]
    for rec in records:
        if "error" in rec:
            continue
        want, skipped = oracle_leaves(rec)
        unsplit += skipped
        ours = our_leaves(os.path.join(CORPUS, rec["path"]))
        exact = Counter(h for h, _ in ours)
        lf = Counter(h for _, h in ours)
        hits = 0
        for h, h_lf in want:
            if exact[h] > 0:
                exact[h] -= 1
                hits += 1
            elif lf[h] > 0:
                lf[h] -= 1
                hits += 1
            elif h_lf and lf[h_lf] > 0:
                lf[h_lf] -= 1
                hits += 1
        total += len(want)
        matched += hits
        if hits != len(want):
            differing.append((rec["path"], len(want) - hits, len(want)))
    rate = matched / total if total else 1.0
    for path, missing, count in differing:
        print(f"differs: {path}: {missing} of {count} leaves not found")
    print(f"corpus agreement: {matched}/{total} leaves ({rate:.1%}) in {len(records)} messages; "
          f"{len(differing)} messages differ; {unsplit} leaves left out (unsplit multiparts, empty parts)")
    if rate < THRESHOLD:
        print(f"FAILED: agreement below {THRESHOLD:.0%}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
