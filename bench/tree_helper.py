#!/usr/bin/env python3
"""Creates the benchmark's trees natively, on request of quillon-bench.exe running under Wine.

    tree_helper.py --exchange FOLDER --root ROOT --listings FOLDER [--sync]

Creating 150,000 small files through Wine takes several times longer than the runs it prepares;
natively it takes seconds. The driver asks by writing the name of a tree listing (tree-N.txt, "D
folder" and "F file" lines relative to the root, written by quillon-bench prepare) into the file
"request" of the exchange folder; this helper removes what a run left of ROOT/app and ROOT/menu,
creates the tree, flushes the file system when --sync is given, and answers "ok" or an error in
the file "done". Both files are written under a temporary name and renamed, so neither side reads
half a file. The helper ends when its parent (run-bench.sh) ends.
"""
import argparse
import os
import shutil
import sys
import time

CONTENT = b"quillon\r\n"


def write_atomically(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def make_tree(root, listing_path, sync):
    for part in ("app", "menu"):
        shutil.rmtree(os.path.join(root, part), ignore_errors=True)
        if os.path.exists(os.path.join(root, part)):
            return f"cannot clear {os.path.join(root, part)}"
    os.makedirs(root, exist_ok=True)
    with open(listing_path) as f:
        for line in f:
            kind, relative = line[0], line[2:].rstrip("\n").replace("\\", "/")
            path = os.path.join(root, relative)
            if kind == "D":
                os.mkdir(path)
            else:
                fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
                os.write(fd, CONTENT)
                os.close(fd)
    if sync:
        os.sync()
    return "ok"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--exchange", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--listings", required=True)
    parser.add_argument("--sync", action="store_true")
    args = parser.parse_args()
    parent = os.getppid()
    request = os.path.join(args.exchange, "request")
    done = os.path.join(args.exchange, "done")
    while os.getppid() == parent:
        if not os.path.exists(request):
            time.sleep(0.005)
            continue
        with open(request) as f:
            name = f.read().strip()
        os.remove(request)
        try:
            answer = make_tree(args.root, os.path.join(args.listings, name), args.sync)
        except OSError as error:
            answer = f"cannot create the tree {name}: {error}"
        write_atomically(done, answer)
    return 0


if __name__ == "__main__":
    sys.exit(main())
