#!/usr/bin/env python3
"""Turns one benchmark run into docs/benchmarks.md, or checks a smoke run.

Input: the driver's results (one JSON object a line), the machine description that run-bench.sh
wrote, the work folder (uninstallers, NSIS uninstallers), the stub and its linker map. Every
figure in the document comes from that one run: medians with min and max over the interleaved
repetitions, and ratios between programs of the same run.
"""
import argparse
import json
import math
import os
import re
import statistics
import struct
import sys

# The stub's size budget by flavour: 26 KiB for x86, 28 KiB for x64, each with ASLR and resources.
STUB_BUDGETS = {"x86": 26 * 1024, "x64": 28 * 1024}
TARGET_VS_NSIS = 0.6
TARGET_VS_RAW = 2.0
LINEAR_PER_ITEM_GROWTH = 1.25  # per-item time at the largest n over that at the next smaller n
LINEAR_EXPONENT = 1.15          # growth of a pass against n between the two largest sizes
PASSES = [("load", "LoadUninstallData"), ("files", "RemoveFiles"), ("patterns", "RemovePatterns"),
          ("group_files", "RemoveFolderGroupFiles"), ("groups", "RemoveFolderGroups"),
          ("empty_folders", "PruneEmptyFolders"), ("registry", "RemoveRegistryEntries")]
PROGRAM_LABEL = {"quillon": "a: Quillon (`/S`)", "raw": "b: raw Win32 calls", "nsis": "c: NSIS (`/S _?=`)"}


# ---------------------------------------------------------------- PE files and the linker map

def pe_layout(path):
    """Sections of a PE file: list of (name, virtual size, raw size, raw offset, virtual address),
    header bytes, file size, the bytes behind the last section (appended data), and the address of
    the import directory."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path}: not a PE file")
    sections_count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    header_bytes, = struct.unpack_from("<I", data, optional + 60)
    magic, = struct.unpack_from("<H", data, optional)
    directories = optional + (112 if magic == 0x20B else 96)  # PE32+ (x64) or PE32 (x86)
    import_rva, = struct.unpack_from("<I", data, directories + 8)
    # The exception table and the relocations, which the stub's post-link step folds into the
    # section before them: counted apart from that section's own contents.
    tables = {kind: struct.unpack_from("<II", data, directories + 8 * index)
              for kind, index in (("code and read-only data", 3), ("headers and relocations", 5))}
    sections = []
    table = optional + optional_size
    for index in range(sections_count):
        raw = data[table + 40 * index: table + 40 * (index + 1)]
        name = raw[:8].rstrip(b"\0").decode("latin-1")
        vsize, vaddr, rsize, rptr = struct.unpack_from("<IIII", raw, 8)
        sections.append((name, vsize, rsize, rptr, vaddr))
    end = max([header_bytes] + [rptr + rsize for _n, _v, rsize, rptr, _a in sections if rsize])
    return sections, header_bytes, len(data), len(data) - end, import_rva, tables


RESOURCE_TYPES = {1: "cursor", 2: "bitmap", 3: "icon images", 4: "menu", 5: "dialogs", 6: "strings",
                  14: "icon group", 16: "version", 24: "manifest"}


def resource_sizes(path):
    """Bytes of resource data per type, from the PE resource directory: {type name: bytes}."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    sections_count, = struct.unpack_from("<H", data, pe + 6)
    rsrc = None
    for index in range(sections_count):
        at = optional + optional_size + 40 * index
        if data[at:at + 8].rstrip(b"\0") == b".rsrc":
            _vsize, vaddr, _rsize, rptr = struct.unpack_from("<IIII", data, at + 8)
            rsrc = (vaddr, rptr)
    if rsrc is None:
        return {}
    vaddr, base = rsrc
    sizes = {}

    def walk(offset, depth, kind):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for entry in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * entry)
            if depth == 0:
                kind = RESOURCE_TYPES.get(name, f"type {name}") if not name & 0x80000000 else "named type"
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF, depth + 1, kind)
            else:
                _rva, size = struct.unpack_from("<II", data, base + target)
                sizes[kind] = sizes.get(kind, 0) + size

    walk(0, 0, None)
    return sizes


def size_breakdown(path):
    sections, header_bytes, total, overlay, import_rva, tables = pe_layout(path)
    groups = {"code and read-only data": 0, "data": 0, "imports": 0, "resources": 0,
              "headers and relocations": header_bytes}
    kind = {".text": "code and read-only data", ".data": "data", ".rdata": "data", ".bss": "data", ".tls": "data",
            ".pdata": "code and read-only data",
            ".idata": "imports", ".rsrc": "resources"}
    for name, vsize, rsize, _rptr, vaddr in sections:
        group = kind.get(name, "headers and relocations")
        if group != "imports" and import_rva and vaddr <= import_rva < vaddr + vsize:
            # The import tables close a section they share with other read-only contents.
            imports = vaddr + vsize - import_rva
            groups["imports"] += imports
            rsize -= imports
        for table_group, (rva, size) in tables.items():
            if size and table_group != group and vaddr <= rva < vaddr + vsize:
                groups[table_group] += size
                rsize -= size
        groups[group] += rsize
    return groups, [section[:4] for section in sections], total, overlay


def map_modules(path):
    """Bytes per object file and output section from a GNU ld map: {module: {section: bytes}}."""
    modules = {}
    current = None
    pending = None
    line_re = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
    tail_re = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            top = re.match(r"^(\.[a-z_]+)\s", line) or re.match(r"^(\.[a-z_]+)$", line)
            if top:
                current = top.group(1)
                pending = None
                continue
            if current not in (".text", ".data", ".rdata", ".idata", ".rsrc", ".bss"):
                continue
            size = origin = part = None
            match = line_re.match(line)
            if match and not match.group(1).startswith("*"):
                size, origin, part = int(match.group(3), 16), match.group(4), match.group(1)
            elif pending is not None:
                tail = tail_re.match(line)
                if tail and not tail.group(3).startswith(("0x", "[")):
                    size, origin, part = int(tail.group(2), 16), tail.group(3), pending
            pending = line.strip() if re.match(r"^ \.\S+$", line) else None
            if size:
                module = module_name(origin)
                # Import tables count as imports whichever output section holds them.
                section = ".idata" if part.startswith(".idata") else current
                modules.setdefault(module, {}).setdefault(section, 0)
                modules[module][section] += size
    return modules


def module_name(origin):
    origin = origin.strip()
    match = re.search(r"\.dir/(.*)\.obj$", origin)
    if match:
        return "src/" + match.group(1).replace("__/", "")
    if origin.endswith(".res") or ".rc." in origin:
        return "res/stub.rc"
    match = re.search(r"lib([a-z0-9_]+)\.a\(", origin)
    if match:
        return "lib" + match.group(1)
    return os.path.basename(origin)


# ---------------------------------------------------------------- statistics

def med(values):
    return statistics.median(values) if values else float("nan")


def span(values, scale=1.0, digits=3):
    if not values:
        return "–"
    return (f"{med(values) * scale:.{digits}f} ({min(values) * scale:.{digits}f}–"
            f"{max(values) * scale:.{digits}f})")


def kib(value):
    return f"{value:,} B ({value / 1024:.1f} KiB)"


def exponent(t1, t2, x1, x2):
    if t1 <= 0 or t2 <= 0 or x1 <= 0 or x2 <= x1:
        return float("nan")
    return math.log(t2 / t1) / math.log(x2 / x1)


def fmt_ratio(value):
    return "–" if value is None or math.isnan(value) else f"{value:.2f}"


class Results:
    def __init__(self, path):
        self.rows = []
        with open(path) as f:
            for line in f:
                line = line.strip()
                if line:
                    self.rows.append(json.loads(line))

    def select(self, kind, program, n=None):
        return [r for r in self.rows if r["kind"] == kind and r["program"] == program
                and (n is None or r["n"] == n) and r.get("ok")]

    def seconds(self, kind, program, n, key="seconds"):
        return [r[key] for r in self.select(kind, program, n)]

    def ns(self, kind="remove"):
        return sorted({r["n"] for r in self.rows if r["kind"] == kind})

    def failures(self):
        return [r for r in self.rows if not r.get("ok")]

    def trace(self, kind, program, n, probe, field=1):
        return [r["trace"][probe][field] for r in self.select(kind, program, n)
                if probe in r.get("trace", {})]


# ---------------------------------------------------------------- the document

def per_rep_ratios(results, n, a, b):
    by_rep_a = {r["rep"]: r["seconds"] for r in results.select("remove", a, n)}
    by_rep_b = {r["rep"]: r["seconds"] for r in results.select("remove", b, n)}
    return [by_rep_a[rep] / by_rep_b[rep] for rep in by_rep_a if rep in by_rep_b and by_rep_b[rep] > 0]


def ratio_cell(results, n, a, b):
    ta, tb = results.seconds("remove", a, n), results.seconds("remove", b, n)
    if not ta or not tb:
        return "–", None
    value = med(ta) / med(tb)
    reps = per_rep_ratios(results, n, a, b)
    extra = f" (per repetition {min(reps):.2f}–{max(reps):.2f})" if reps else ""
    return f"{value:.2f}{extra}", value


def write_doc(args, results, machine):
    out = []
    w = out.append
    ns = results.ns()
    largest = ns[-1] if ns else 0
    targets = []

    w("# Benchmarks")
    w("")
    w("Size, speed and scale of the Quillon uninstaller, measured side by side with the raw Win32 calls "
      "that the same job needs at the least and with an NSIS uninstaller for the same job. `make bench` "
      "builds everything, runs the benchmark under Wine and rewrites this file; every figure below comes "
      "from that one run. These machines are shared: only the ratios between programs of the same run "
      "mean much, absolute times move from run to run.")
    w("")
    w("## Machine and setup")
    w("")
    w("| | |")
    w("|---|---|")
    w(f"| Date | {machine['date']} |")
    w(f"| Source | {machine.get('source', 'unknown')} |")
    w(f"| CPUs (`nproc`) | {machine['nproc']} |")
    w(f"| CPU | {machine['cpu']} |")
    w(f"| Flavour | {machine.get('flavour', 'x86')}: `{os.path.basename(args.stub)}` "
      f"({'64-bit' if machine.get('flavour') == 'x64' else '32-bit'}); {machine.get('flavour_reason', '')} |")
    w(f"| Wine | {machine['wine']} |")
    w(f"| makensis | {machine['makensis'] or machine.get('nsis_left_out') or 'not installed: NSIS left out'} |")
    w(f"| Kernel | {machine['kernel']} |")
    w(f"| Load average before / after | {machine['load_before']} / {machine['load_after']} |")
    w(f"| CPU setting | {machine['setup']} (the same for all programs) |")
    w(f"| Sizes n | {machine['ns']}; {machine['reps']} interleaved repetitions of each program, "
      f"{machine['trace_reps']} of the traced stub and the in-use probe |")
    w(f"| Load test | L({machine['load_n']:,}), {machine['load_reps']} repetitions |")
    elapsed = args.elapsed if args.elapsed else machine["duration_s"]
    w(f"| Duration of the benchmark | {elapsed // 60} min {elapsed % 60} s (measurements only; the build "
      "comes before) |")
    w(f"| Tree | {machine.get('tree', 'created by the driver')} |")
    w("")
    w("Repetitions are interleaved: each repetition runs every program once, in an order that rotates "
      "from one repetition to the next, each on a tree created fresh just before it. Times are taken by "
      "the driver (`bench/driver`, a Windows program) with QueryPerformanceCounter from CreateProcess to "
      "the end of the wait, so they include the start and end of the process. Cells show the median, "
      "with min–max in brackets.")
    w("")
    w("Under Wine every file and registry call is a round trip to Wine's server process. Pinned to one "
      "CPU, each trip is a switch on that CPU; left to the scheduler, it is often a wake-up on the other "
      "CPU, which costs more and varies with whatever else runs there. Pinning makes the repetitions "
      "scatter far less on these shared machines, so the main run is pinned; *Other setups* shows one "
      "size with the other setting.")
    w("")
    in_memory = "/dev/shm" in machine.get("tree", "")
    w("The trees are created by `bench/tree_helper.py`, natively, on the driver's request; the registry "
      "keys and values by the driver. Creation is never timed. Creating a file costs a few hundred "
      "microseconds on these machines' disk and a few on tmpfs; at 150,000 files a tree, five "
      "repetitions of three programs at n = 100,000 took longer to prepare than the whole benchmark may "
      "take. " + ("So the main run's trees are in memory (tmpfs): the file system's own part of a "
                  "deletion is small and the same for every program, and what remains is the part in "
                  "which the programs differ, their own calls and Wine's. The section *Other setups* "
                  "repeats one size with the tree on the disk." if in_memory else
                  "This run's trees are on the disk."))
    w("")
    if "flushed to disk (sync)" in machine.get("tree", ""):
        w("Each tree is flushed to disk before the timing starts, so every deletion also pays the disk's "
          "`discard`, the same for every program; this moves all ratios toward 1.")
    else:
        w("Trees are not flushed before timing: their files are young and still in the page cache. The "
          "disk is mounted with `discard`; deleting files that were synced first adds tens of "
          "microseconds per file, the same for every program, which moves all ratios toward 1 and adds "
          "the noise of a disk shared with other builds (`QUILLON_BENCH_SYNC=1` measures that setup).")
    w("")

    # ------------------------------------------------------------ size
    w("## Size")
    w("")
    groups, sections, total, _overlay = size_breakdown(args.stub)
    flavour = machine.get("flavour", "x86")
    budget = STUB_BUDGETS[flavour]
    verdict = "within" if total <= budget else "OVER"
    targets.append((f"{flavour} stub at most {budget // 1024} KiB ({budget:,} bytes)", f"{total:,} bytes",
                    total <= budget))
    w(f"The {flavour} stub as built (`{os.path.basename(args.stub)}`, with its manifest, icon and dialogs): "
      f"**{total:,} bytes**, {verdict} the budget of {budget:,} bytes ({budget - total:+,} bytes left).")
    w("")
    w("| Part (file bytes; a section's padding counts with its main part) | Bytes |")
    w("|---|---:|")
    for name in ("code and read-only data", "data", "imports", "resources", "headers and relocations"):
        w(f"| {name} | {groups[name]:,} |")
    w(f"| **total** | **{total:,}** |")
    w("")
    resources = resource_sizes(args.stub)
    if resources:
        w("Resources: " + ", ".join(f"{name} {size:,} bytes" for name, size in
                                    sorted(resources.items(), key=lambda item: -item[1])) + ".")
        w("")
    w("Sections: " + ", ".join(f"`{name}` {vsize:,} used of {rsize:,}" if rsize else
                               f"`{name}` {vsize:,} in memory only" for name, vsize, rsize, _p in sections)
      + " (each section is padded to the 512-byte file alignment).")
    w("")
    if args.other_stub and os.path.exists(args.other_stub[0]):
        # The other flavour, built from the same sources: its size beside this one's.
        other_path, other_flavour = args.other_stub
        other_groups, other_sections, other_total, _o = size_breakdown(other_path)
        other_budget = STUB_BUDGETS[other_flavour]
        targets.append((f"{other_flavour} stub at most {other_budget // 1024} KiB ({other_budget:,} bytes)",
                        f"{other_total:,} bytes", other_total <= other_budget))
        w(f"Beside it, the {other_flavour} stub of the same build (`{os.path.basename(other_path)}`): "
          f"**{other_total:,} bytes**, {'within' if other_total <= other_budget else 'OVER'} its budget of "
          f"{other_budget:,} bytes ({other_budget - other_total:+,} bytes left).")
        w("")
        w(f"| Part | {flavour} | {other_flavour} |")
        w("|---|---:|---:|")
        for name in ("code and read-only data", "data", "imports", "resources", "headers and relocations"):
            w(f"| {name} | {groups[name]:,} | {other_groups[name]:,} |")
        w(f"| **total** | **{total:,}** | **{other_total:,}** |")
        w("")
        w(f"Sections of the {other_flavour} stub: " + ", ".join(
            f"`{name}` {vsize:,} used of {rsize:,}" if rsize else f"`{name}` {vsize:,} in memory only"
            for name, vsize, rsize, _p in other_sections) + ".")
        w("")
    if args.map and os.path.exists(args.map):
        modules = map_modules(args.map)
        note = "from the linker map (`quillon-stub.map`, bytes before alignment)"
        if not any(name.startswith("src/") for name in modules) and args.module_map and os.path.exists(
                args.module_map):
            # A link-time optimised stub's map shows one merged object; the traced stub links the
            # same objects' ordinary code without it, module by module.
            merged = sum(parts.get(".text", 0) for parts in modules.values())
            modules = {name: parts for name, parts in map_modules(args.module_map).items()
                       if "stub_trace" not in name}
            ordinary = sum(parts.get(".text", 0) for parts in modules.values())
            note = ("from the map of the traced stub, which links the same objects' ordinary code without "
                    "link-time optimisation (the stub's own map shows one merged object). These figures "
                    f"add up to {ordinary:,} bytes of code against the {merged:,} that the optimised link "
                    "keeps, so they tell where the bytes come from rather than exactly what each module "
                    "costs in the stub")
        rows = []
        for module, parts in modules.items():
            code = parts.get(".text", 0)
            data = parts.get(".data", 0) + parts.get(".rdata", 0) + parts.get(".bss", 0)
            if code or data:
                rows.append((code, data, module))
        rows.sort(reverse=True)
        w(f"What each module adds, {note}:")
        w("")
        w("| Module | Code | Data |")
        w("|---|---:|---:|")
        for code, data, module in rows:
            w(f"| {module} | {code:,} | {data:,} |")
        w("")

    stub_bytes = total
    w("The whole uninstaller for each job, beside NSIS's uninstaller for the same job (built by `makensis` "
      "in this run, default compression; NSIS's program is what its PE sections hold, its script and "
      "strings are appended behind it):")
    w("")
    made = {}
    made_path = os.path.join(os.path.dirname(args.results), "makensis.tsv")
    if os.path.exists(made_path):
        with open(made_path) as f:
            for line in f:
                n_text, seconds = line.split()
                made[int(n_text)] = float(seconds)
    w("| Job | Quillon uninstaller | of which appended data | NSIS uninstaller | of which NSIS's program | "
      "makensis, s |")
    w("|---|---:|---:|---:|---:|---:|")
    for n in ns:
        quillon = os.path.join(args.work, f"quillon-{n}.exe")
        nsis = os.path.join(args.work, f"nsis-uninst-{n}.exe")
        q = os.path.getsize(quillon) if os.path.exists(quillon) else 0
        if os.path.exists(nsis):
            _g, _s, nsis_total, nsis_overlay = size_breakdown(nsis)
            nsis_cells = f"{nsis_total:,} | {nsis_total - nsis_overlay:,}"
        else:
            nsis_cells = "– | –"
        nsis_cells += f" | {made[n]:.1f}" if n in made else " | –"
        w(f"| W({n:,}) | {q:,} | {q - stub_bytes:,} | {nsis_cells} |")
    w("")

    # ------------------------------------------------------------ removal
    w("## Uninstall workload W(n)")
    w("")
    w("W(n): n files of 9 bytes in n/100 folders of the installation folder (file entries relative to it); "
      "a separate tree of n/2 files in n/200 folders below `cache`, removed by the one pattern "
      "`cache\\*.tmp`; a folder group `menu\\Vendor\\Product` with one parent level, holding 10 shortcuts "
      "(plain files, file entries); 100 keys with two values each under "
      "`HKCU\\Software\\QuillonBench\\Keys` and 100 value entries of `HKCU\\Software\\QuillonBench\\Values` "
      "(whose unlisted value `Keep` must stay). *Items* counts what a run removes: files, folders, keys "
      "and values. After every run the driver checks that everything listed is gone, that the uninstaller "
      "is the only thing left in the installation folder, and that nothing unlisted went; a run that "
      "fails the check counts as failed and is not in the tables.")
    w("")
    w("- a: the Quillon uninstaller (the stub as built, W(n) appended with the format library), run with `/S`.")
    w("- b: `bench-raw-remove.exe`, which reads the list of calls in one read and only calls DeleteFileA, "
      "RemoveDirectoryA, RegDeleteKeyA and RegDeleteValueA on the same entries, in the order of the "
      "stub's passes (files last first, the pattern tree, the folder group, the emptied folders, the "
      "registry).")
    w("- c: the NSIS uninstaller for the same job, run in place with `/S _?=<folder>`; its script is "
      "generated from the same entry list (`Delete` per file, `RMDir` per folder, `DeleteRegKey`, "
      "`DeleteRegValue`). NSIS has no recursive wildcard deletion, so the pattern tree, which holds "
      "only matching files, goes with `RMDir /r`, as an NSIS author would write it.")
    w("")
    w("| n | Items | Program | Seconds | µs per item | Peak working set |")
    w("|---:|---:|---|---:|---:|---:|")
    for n in ns:
        for program in ("quillon", "raw", "nsis"):
            rows = results.select("remove", program, n)
            if not rows:
                continue
            items = rows[0]["items"]
            secs = [r["seconds"] for r in rows]
            ws = [r["peak_ws"] for r in rows if r.get("peak_ws")]
            w(f"| {n:,} | {items:,} | {PROGRAM_LABEL[program]} | {span(secs)} | "
              f"{med(secs) * 1e6 / items:.1f} | {(f'{med(ws) / 1024:,.0f} KiB') if ws else '–'} |")
    w("")
    w("| n | a/b (target at most 2) | a/c (target at most 0.6) |")
    w("|---:|---:|---:|")
    for n in ns:
        ab, ab_value = ratio_cell(results, n, "quillon", "raw")
        ac, ac_value = ratio_cell(results, n, "quillon", "nsis")
        w(f"| {n:,} | {ab} | {ac} |")
        if ab_value is not None:
            targets.append((f"a at most 2 × b at n = {n:,}", f"{ab_value:.2f}", ab_value <= TARGET_VS_RAW))
        if ac_value is not None:
            targets.append((f"a at most 0.6 × c at n = {n:,}", f"{ac_value:.2f}", ac_value <= TARGET_VS_NSIS))
    w("")

    # ------------------------------------------------------------ growth
    w("### How a grows with n")
    w("")
    w("| n | Items | Seconds | µs per item | Growth of the time against the items since the previous n |")
    w("|---:|---:|---:|---:|---:|")
    previous = None
    growth_notes = []
    for n in ns:
        rows = results.select("remove", "quillon", n)
        if not rows:
            continue
        items = rows[0]["items"]
        t = med([r["seconds"] for r in rows])
        cell = "–"
        if previous:
            e = exponent(previous[1], t, previous[0], items)
            cell = f"time × {t / previous[1]:.1f} for items × {items / previous[0]:.1f} (exponent {e:.2f})"
        w(f"| {n:,} | {items:,} | {t:.3f} | {t * 1e6 / items:.1f} | {cell} |")
        previous = (items, t, n)
    w("")
    if len(ns) >= 2:
        n1, n2 = ns[-2], ns[-1]
        r1, r2 = results.select("remove", "quillon", n1), results.select("remove", "quillon", n2)
        if r1 and r2:
            per1 = med([r["seconds"] for r in r1]) / r1[0]["items"]
            per2 = med([r["seconds"] for r in r2]) / r2[0]["items"]
            targets.append((f"a linear: µs per item at n = {n2:,} at most {LINEAR_PER_ITEM_GROWTH} × that at "
                            f"{n1:,}", f"{per2 / per1:.2f} ×", per2 / per1 <= LINEAR_PER_ITEM_GROWTH))
    w("A time that grows like the number of items has exponent 1. From 1,000 to 10,000 the exponent "
      "stays below 1 because the start of the process is a larger share of the small job.")
    w("")

    # per pass
    traced_ns = [n for n in ns if results.select("remove", "traced", n)]
    if traced_ns:
        w("Each pass of a, timed inside the traced stub (`quillon-stub-traced.exe`: the shipping objects "
          "with probes wrapped around the calls between them by the linker's `--wrap`; the stub that "
          "ships has no instrumentation). Milliseconds, median of the traced runs:")
        w("")
        header = "| Pass | " + " | ".join(f"n = {n:,}" for n in traced_ns) + " | Exponent against n, last two sizes |"
        w(header)
        w("|---|" + "---:|" * len(traced_ns) + "---:|")
        for probe, label in PASSES + [("run", "whole run, load to shut-down")]:
            values = [med(results.trace("remove", "traced", n, probe)) / 1000 for n in traced_ns]
            e = float("nan")
            if len(traced_ns) >= 2:
                e = exponent(values[-2], values[-1], traced_ns[-2], traced_ns[-1])
                if probe != "run" and not math.isnan(e) and e > LINEAR_EXPONENT and values[-1] > 0.02 * max(
                        med(results.trace("remove", "traced", traced_ns[-1], "run")) / 1000, 1):
                    growth_notes.append(f"`{label}` grows with exponent {e:.2f} between n = {traced_ns[-2]:,} "
                                        f"and {traced_ns[-1]:,}")
                    targets.append((f"{label} linear (exponent at most {LINEAR_EXPONENT})", f"{e:.2f}", False))
            cells = " | ".join(f"{v:,.1f}" for v in values)
            w(f"| `{label}` | {cells} | {fmt_ratio(e)} |")
        w("")
        if growth_notes:
            w("Faster than linear: " + "; ".join(growth_notes) + ".")
        else:
            w("No pass grows faster than the number of entries.")
        w("")

    # ------------------------------------------------------------ costly behaviour
    w("### What the prescribed checks cost")
    w("")
    w("| n | Protected-folder tests: calls, ms, ms per call, share of the traced run | "
      "In-use test of every file: calls, ms, µs per file, share of a | Opens and closes of the in-use test "
      "in the traced run: ms, share |")
    w("|---:|---|---|---|")
    for n in traced_ns:
        run = med(results.trace("remove", "traced", n, "run"))
        calls = med(results.trace("remove", "traced", n, "protected_folder", 0))
        spent = med(results.trace("remove", "traced", n, "protected_folder"))
        protected = (f"{calls:,.0f}, {spent / 1000:,.1f}, {spent / 1000 / calls:.2f}, {spent / run:.0%}"
                     if calls else "none")
        probe_rows = results.select("remove", "inuse", n)
        inuse = "–"
        a = results.seconds("remove", "quillon", n)
        if probe_rows and a:
            probe_calls = med([r["probe"]["inuse"][0] for r in probe_rows])
            probe_us = med([r["probe"]["inuse"][1] for r in probe_rows])
            inuse = (f"{probe_calls:,.0f}, {probe_us / 1000:,.1f}, {probe_us / probe_calls:.1f}, "
                     f"{probe_us / 1e6 / med(a):.0%}")
        opens = med(results.trace("remove", "traced", n, "open_file")) + med(
            results.trace("remove", "traced", n, "close_file"))
        w(f"| {n:,} | {protected} | {inuse} | {opens / 1000:,.1f}, {opens / run:.0%} |")
    w("")
    estimates = []
    for n in traced_ns:
        run = med(results.trace("remove", "traced", n, "run"))
        spent = med(results.trace("remove", "traced", n, "protected_folder"))
        a, b, c = (results.seconds("remove", p, n) for p in ("quillon", "raw", "nsis"))
        if run and a and b:
            rest = med(a) * (1 - spent / run)
            text = f"n = {n:,}: {rest:.2f} s, a/b {rest / med(b):.2f}"
            if c:
                text += f", a/c {rest / med(c):.2f}"
            estimates.append(text)
    if estimates:
        w("An estimate, not a measurement: a's median with the protected-folder tests' share of the traced run "
          "taken out, as if the protected set were worked out once per run: " + "; ".join(estimates) + ".")
        w("")
    shell = results.select("probe", "shell")
    if shell:
        def probe_cost(name):
            calls = med([r["probe"][name][0] for r in shell if name in r.get("probe", {})])
            spent = med([r["probe"][name][1] for r in shell if name in r.get("probe", {})])
            return spent / calls if calls else float("nan")
        w("Where one protected-folder test's time goes (`bench-probe.exe shell`: the stub's own code, "
          f"{len(shell)} runs of 20 rounds each, median):")
        w("")
        w("| Call | µs per call |")
        w("|---|---:|")
        w(f"| `IsProtectedFolder` on a folder that is not protected (all rows compared) | "
          f"{probe_cost('protected_folder'):,.0f} |")
        w(f"| the stub's shell lookup of one folder (SHGetSpecialFolderLocation, SHGetPathFromIDListA, "
          f"the shell allocator), 13 per test on NT | {probe_cost('shell_lookup'):,.0f} |")
        w(f"| SHGetFolderPathA for the same folder, for comparison | {probe_cost('shget_folder_path'):,.0f} |")
        w(f"| GetWindowsDirectoryA or GetSystemDirectoryA | {probe_cost('windows_system_dirs'):,.1f} |")
        w(f"| QueryPerformanceCounter, which every probe of the traced stub calls twice | {probe_cost('qpc'):,.2f} |")
        w("")
    w("The protected-folder test works out the protected set afresh on every call (about 17 folders from "
      "Windows, the shell and the registry); the traced stub times each call. The in-use test opens every "
      "listed file for writing before deleting it; `bench-probe.exe` calls the stub's own "
      "`IsFileInUse` on every file of a freshly created W(n), as the file pass finds them, and its time "
      "is set against a's median. The traced run also times the opens and closes inside the file pass.")
    w("")

    absent = [r for r in results.rows if r["kind"] == "absent" and r.get("ok")]
    if absent:
        r = absent[0]
        trace = r.get("trace", {})
        w("### An uninstall whose files are gone already")
        w("")
        folders = max(1, (r["n"] + 99) // 100)
        w(f"The traced stub run quietly over L({r['n']:,}): {r['n']:,} file entries in {folders:,} "
          f"folder{'s' if folders > 1 else ''} that do not exist (as after a user deleted the installation folder by hand). One run:")
        w("")
        w("| | |")
        w("|---|---:|")
        w(f"| Whole process, s | {r['seconds']:.3f} |")
        for probe, label in PASSES:
            if probe in trace and trace[probe][1] >= 1000:
                w(f"| `{label}`, ms | {trace[probe][1] / 1000:,.1f} |")
        if "protected_folder" in trace:
            calls, spent = trace["protected_folder"]
            w(f"| Protected-folder tests: calls, ms, per entry | {calls:,}, {spent / 1000:,.1f}, "
              f"{spent / 1000 / r['n']:.2f} ms |")
        w("")
        w("The empty-folder pass skips a folder only when it equals the last folder it removed; a folder that "
          "cannot be removed (missing, or still holding a file that stayed) is tried again, protected-folder "
          "test included, for every entry in it.")
        w("")

    # ------------------------------------------------------------ load
    w("## Loading a large description")
    w("")
    load_n = machine["load_n"]
    l0 = results.select("load", "load-0")
    ln = results.select("load", f"load-{load_n}")
    t0 = results.select("load", "load-traced-0")
    tn = results.select("load", f"load-traced-{load_n}")
    w(f"L({load_n:,}): {load_n:,} file entries that name nothing on disk (`.\\gone\\dKKKK\\fIIIIII.dat`), "
      "beside L(0), an empty description. The uninstaller is started without switches and answered "
      "Cancel at its confirmation box, which shows once the load is done; the driver times CreateProcess "
      "to the box and reads the peak working set (GetProcessMemoryInfo, PeakWorkingSetSize) while the "
      "box is up, so no removal pass runs at all. (Wine answers GetProcessMemoryInfo only while the "
      "process exists, so the finished process cannot be asked; the peak is monotonic and nothing is "
      "loaded after the box appears.) The traced stub times `LoadUninstallData` and each of the "
      "loader's exact reads from inside.")
    w("")
    if l0 and ln:
        size0 = os.path.getsize(os.path.join(args.work, "load-0.exe"))
        sizen = os.path.getsize(os.path.join(args.work, f"load-{load_n}.exe"))
        ws0 = med([r["peak_ws"] for r in l0 if r.get("peak_ws")] or [0])
        wsn = med([r["peak_ws"] for r in ln if r.get("peak_ws")] or [0])
        box0 = [r["to_box"] for r in l0]
        boxn = [r["to_box"] for r in ln]
        w("| | L(0) | L(" + f"{load_n:,}" + ") | Per entry |")
        w("|---|---:|---:|---:|")
        w(f"| Uninstaller file | {size0:,} B | {sizen:,} B | {(sizen - size0) / load_n:.1f} B appended |")
        w(f"| CreateProcess to the confirmation box, s | {span(box0)} | {span(boxn)} | "
          f"{(med(boxn) - med(box0)) * 1e6 / load_n:.2f} µs |")
        if t0 and tn:
            load0 = [r["trace"]["load"][1] / 1e3 for r in t0]
            loadn = [r["trace"]["load"][1] / 1e3 for r in tn]
            reads = med([r["trace"]["read_exact"][0] for r in tn])
            read_us = [r["trace"]["read_exact"][1] / 1e3 for r in tn]
            w(f"| `LoadUninstallData` inside the traced stub, ms | {span(load0, digits=1)} | "
              f"{span(loadn, digits=1)} | {(med(loadn) - med(load0)) * 1e3 / load_n:.2f} µs |")
            w(f"| Exact reads (`ReadExact`) of that load: calls, ms, share of the load | – | "
              f"{reads:,.0f}, {med(read_us):,.1f}, {med(read_us) / med(loadn):.0%} | "
              f"{reads / load_n:.1f} reads |")
            qpc = [r["probe"]["qpc"][1] / r["probe"]["qpc"][0] for r in results.select("probe", "shell")
                   if "qpc" in r.get("probe", {})]
            if qpc:
                # Each timed read carries two counter reads of its own inside the load's time.
                probe_ms = reads * 2 * med(qpc) / 1000
                w(f"| The same, the probes' own counter reads taken out | – | "
                  f"{reads:,.0f}, {med(read_us) - probe_ms:,.1f}, "
                  f"{(med(read_us) - probe_ms) / (med(loadn) - probe_ms):.0%} of {med(loadn) - probe_ms:,.1f} ms | "
                  f"{(med(loadn) - probe_ms) * 1e3 / load_n:.2f} µs |")
        w(f"| Peak working set | {ws0 / 1024:,.0f} KiB | {wsn / 1024:,.0f} KiB | "
          f"{(wsn - ws0) / load_n:.1f} B |")
        w("")
        w("The loader reads the chain straight from the file in small exact reads (a length, then the text, "
          "per field), with no buffer and no mapping: each is a ReadFile call into Wine. The traced stub "
          "times every one of them; its two counter reads per call are taken out in the second line.")
        w("")

    # ------------------------------------------------------------ other setups
    if args.extra:
        w("## Other setups")
        w("")
        w("The same comparison once more at one size, right after the main run, with one thing changed. "
          "The main run's figures for the same n stand beside them.")
        w("")
    for label, results_path, machine_path in args.extra or []:
        other = Results(results_path)
        with open(machine_path) as f:
            other_machine = json.load(f)
        if label == "disk":
            w(f"**On the disk:** the tree {other_machine['tree']}; CPU {other_machine['setup']}.")
        else:
            w(f"**Other CPU setting:** {other_machine['setup']}; the tree {other_machine['tree']}.")
        w(f"{other_machine['reps']} interleaved repetitions, {other_machine['date']}, load average "
          f"{other_machine['load_before']} before and {other_machine['load_after']} after.")
        w("")
        w("| n | Program | Seconds in this setup | µs per item | Seconds in the main run |")
        w("|---:|---|---:|---:|---:|")
        for n in other.ns():
            for program in ("quillon", "raw", "nsis"):
                rows = other.select("remove", program, n)
                if not rows:
                    continue
                secs = [r["seconds"] for r in rows]
                main_secs = results.seconds("remove", program, n)
                w(f"| {n:,} | {PROGRAM_LABEL[program]} | {span(secs)} | {med(secs) * 1e6 / rows[0]['items']:.1f} | "
                  f"{span(main_secs) if main_secs else '–'} |")
        w("")
        w("| n | a/b in this setup | a/c in this setup | a/b in the main run | a/c in the main run |")
        w("|---:|---:|---:|---:|---:|")
        for n in other.ns():
            w(f"| {n:,} | {ratio_cell(other, n, 'quillon', 'raw')[0]} | {ratio_cell(other, n, 'quillon', 'nsis')[0]} | "
              f"{ratio_cell(results, n, 'quillon', 'raw')[0]} | {ratio_cell(results, n, 'quillon', 'nsis')[0]} |")
        w("")
        for r in other.failures():
            w(f"- failed: n = {r['n']:,} {r['program']} repetition {r['rep']}: {r.get('left', '')}")
        w("")

    # ------------------------------------------------------------ targets
    w("## Targets")
    w("")
    w("| Target | Measured | Met |")
    w("|---|---:|:---:|")
    for name, value, met in targets:
        w(f"| {name} | {value} | {'yes' if met else '**no**'} |")
    w("")
    failures = results.failures()
    if failures:
        w("## Failed runs")
        w("")
        for r in failures:
            w(f"- {r['kind']} n = {r['n']:,} {r['program']} repetition {r['rep']}: {r.get('left', '')}")
        w("")
    w("## Running it")
    w("")
    w("`make bench` (or `bench/run-bench.sh --win32 build/win32`) installs Debian's `nsis` when "
      "`makensis` is missing, runs everything and rewrites this file. Settings, as environment variables "
      "(or the options that `bench/run-bench.sh` lists): `QUILLON_BENCH_N` (sizes, default "
      "`1000,10000,100000`), `QUILLON_BENCH_REPS` (default 5), `QUILLON_BENCH_TRACE_REPS` (runs of the "
      "traced stub and the probes per size, default 3), `QUILLON_BENCH_LOAD_N` (default 100000), "
      "`QUILLON_BENCH_LOAD_REPS` (default 5), `QUILLON_BENCH_ABSENT_N` (default 1000), "
      "`QUILLON_BENCH_DISK_N` (the size compared on the disk, default 10000, 0 for none), "
      "`QUILLON_BENCH_PIN_N` (the size compared with the other CPU setting, default 10000, 0 for none), "
      "`QUILLON_BENCH_TREE_DIR` (where the main run's trees live), `QUILLON_BENCH_SYNC=1` (flush each "
      "tree to disk before timing), `QUILLON_BENCH_PIN` (the CPU that Wine's server and every program "
      "run on, default 0; `none` leaves them to the scheduler). The CTest test `bench.smoke` runs the whole chain at n = 1,000 with one "
      "repetition and fails when any program leaves behind something it should have removed, or "
      "removes something unlisted; it judges no timing.")
    w("")
    text = "\n".join(out)
    with open(args.doc, "w") as f:
        f.write(text)
    print(text)


def check_smoke(results, machine):
    problems = [f"{r['kind']} n={r['n']} {r['program']}: {r.get('left', '')}" for r in results.failures()]
    wanted = ["quillon", "raw", "traced", "inuse"]
    if machine.get("makensis"):
        wanted.append("nsis")
    else:
        print("makensis not installed: NSIS was left out of the smoke run")
    for program in wanted:
        if not results.select("remove", program):
            problems.append(f"no successful run of {program}")
    for program in ("load-0", f"load-{machine['load_n']}"):
        if not results.select("load", program):
            problems.append(f"no successful load run {program}")
    if not results.select("probe", "shell"):
        problems.append("no successful run of the shell probe")
    if machine.get("absent_n") and not [r for r in results.rows if r["kind"] == "absent" and r.get("ok")]:
        problems.append("no successful run over absent files")
    for r in results.rows:
        print(f"{r['kind']:6} n={r['n']:<6} {r['program']:18} {r.get('seconds', 0):8.3f} s  "
              f"{'ok' if r.get('ok') else 'FAILED ' + r.get('left', '')}")
    for problem in problems:
        print("FAILED:", problem)
    return 0 if not problems else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", required=True)
    parser.add_argument("--machine", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--other-stub", nargs=2, metavar=("PATH", "FLAVOUR"),
                        help="the other flavour's stub, whose size is reported beside this one's")
    parser.add_argument("--map")
    parser.add_argument("--module-map", help="map of the traced stub, for modules when the stub's map is merged")
    parser.add_argument("--doc")
    parser.add_argument("--check-smoke", action="store_true")
    parser.add_argument("--elapsed", type=int, default=0)
    parser.add_argument("--extra", nargs=3, action="append", metavar=("LABEL", "RESULTS", "MACHINE"),
                        help="the same comparison in another setup: disk or cpu")
    args = parser.parse_args()
    results = Results(args.results)
    with open(args.machine) as f:
        machine = json.load(f)
    if args.check_smoke:
        return check_smoke(results, machine)
    write_doc(args, results, machine)
    return 0


if __name__ == "__main__":
    sys.exit(main())
