// quillon-bench: the benchmark driver, a Windows program that runs under Wine.
//
//   quillon-bench prepare --root R --work W --stub S --traced T --n LIST --load-n N
//       writes into W, for every n of LIST: quillon-n.exe (the stub with W(n) appended),
//       traced-n.exe (the traced stub with the same data), raw-n.ops (the raw program's calls),
//       nsis-n.nsi (an NSIS installer that writes nsis-uninst-n.exe) and inuse-n.list (the paths
//       the file pass tests for being in use); and load-N.exe, load-0.exe, load-traced-N.exe
//       (L(N) and an empty description).
//   quillon-bench run --root R --work W --bin B --n LIST --reps K --trace-reps T
//                     --load-n N --load-reps K [--results FILE] [--ms-per-item M]
//       builds the NSIS uninstallers from the setups makensis made in W (when there are any), then
//       for every n runs K interleaved repetitions of the Quillon uninstaller, the raw program and
//       the NSIS uninstaller (and, in the first T repetitions, the traced stub and the in-use
//       probe), each on a tree created fresh before it. Then the load runs: L(0) and L(N), plain
//       and traced, started without switches and cancelled at their confirmation box, so that
//       nothing but the load is timed. Each run appends one JSON line to the results file; the
//       exit value is 1 when any run failed or left something.
//
// The order of the programs rotates from one repetition to the next, so that none of them always
// runs right after tree creation or right after another one.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "format_writer.h"
#include "processes.h"
#include "workload.h"

namespace {

using bench::ProcessRun;
using bench::Workload;

struct Options {
    std::string mode;
    std::string root = "C:\\quillon-bench";
    std::string work;
    std::string bin;
    std::string stub;
    std::string traced;
    std::string results;
    std::string treeHelper; // exchange folder of run-bench.sh's tree helper; empty: trees made here
    std::vector<int> ns;
    int reps = 5;
    int traceReps = 3;
    int loadN = 100000;
    int loadReps = 5;
    int absentN = 1000;
    double msPerItem = 4.0;
};

std::vector<int> ParseList(const std::string& text)
{
    std::vector<int> values;
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos)
            comma = text.size();
        if (comma > at)
            values.push_back(std::atoi(text.substr(at, comma - at).c_str()));
        at = comma + 1;
    }
    return values;
}

bool ParseOptions(int argc, char** argv, Options* options)
{
    if (argc < 2)
        return false;
    options->mode = argv[1];
    for (int index = 2; index + 1 < argc; index += 2) {
        std::string name = argv[index];
        std::string value = argv[index + 1];
        if (name == "--root") options->root = value;
        else if (name == "--work") options->work = value;
        else if (name == "--bin") options->bin = value;
        else if (name == "--stub") options->stub = value;
        else if (name == "--traced") options->traced = value;
        else if (name == "--results") options->results = value;
        else if (name == "--tree-helper") options->treeHelper = value;
        else if (name == "--n") options->ns = ParseList(value);
        else if (name == "--reps") options->reps = std::atoi(value.c_str());
        else if (name == "--trace-reps") options->traceReps = std::atoi(value.c_str());
        else if (name == "--load-n") options->loadN = std::atoi(value.c_str());
        else if (name == "--load-reps") options->loadReps = std::atoi(value.c_str());
        else if (name == "--absent-n") options->absentN = std::atoi(value.c_str());
        else if (name == "--ms-per-item") options->msPerItem = std::atof(value.c_str());
        else {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            return false;
        }
    }
    return !options->work.empty();
}

std::string WorkPath(const Options& options, const std::string& name) { return options.work + "\\" + name; }
std::string Numbered(const std::string& prefix, int n, const std::string& suffix)
{
    return prefix + std::to_string(n) + suffix;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WriteText(const std::string& path, const std::string& text)
{
    std::string error;
    if (!quillon::WriteFileBytes(path, quillon::Bytes(text.begin(), text.end()), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return true;
}

bool WriteUninstaller(const std::string& stubPath, const quillon::UninstallData& data, const std::string& path)
{
    quillon::Bytes stub;
    quillon::Bytes uninstaller;
    std::string error;
    if (!quillon::ReadFileBytes(stubPath, &stub, &error) ||
        !quillon::BuildUninstaller(stub, quillon::EncodeUninstallData(data), &uninstaller, &error) ||
        !quillon::WriteFileBytes(path, uninstaller, &error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

int Prepare(const Options& options)
{
    bool ok = true;
    for (int n : options.ns) {
        Workload w{options.root, n};
        quillon::UninstallData data = bench::QuillonData(w);
        ok = ok && WriteUninstaller(options.stub, data, WorkPath(options, Numbered("quillon-", n, ".exe")));
        ok = ok && WriteUninstaller(options.traced, data, WorkPath(options, Numbered("traced-", n, ".exe")));
        ok = ok && WriteText(WorkPath(options, Numbered("raw-", n, ".ops")), bench::RawOpsText(bench::RawOps(w)));
        ok = ok && WriteText(WorkPath(options, Numbered("nsis-", n, ".nsi")),
                             bench::NsisScript(w, Numbered("nsis-setup-", n, ".exe"),
                                               WorkPath(options, Numbered("nsis-uninst-", n, ".exe"))));
        std::string list;
        for (const std::string& path : bench::FileEntryPaths(w))
            list += path + "\r\n";
        ok = ok && WriteText(WorkPath(options, Numbered("inuse-", n, ".list")), list);
        ok = ok && WriteText(WorkPath(options, Numbered("tree-", n, ".txt")), bench::TreeListing(w));
    }
    ok = ok && WriteText(WorkPath(options, "tree-bare.txt"), "D app\n"); // the installation folder alone
    for (int n : {0, options.loadN}) {
        quillon::UninstallData data = bench::LoadOnlyData(n);
        ok = ok && WriteUninstaller(options.stub, data, WorkPath(options, Numbered("load-", n, ".exe")));
        ok = ok && WriteUninstaller(options.traced, data, WorkPath(options, Numbered("load-traced-", n, ".exe")));
    }
    if (options.absentN > 0)
        ok = ok && WriteUninstaller(options.traced, bench::LoadOnlyData(options.absentN),
                                    WorkPath(options, Numbered("absent-traced-", options.absentN, ".exe")));
    return ok ? 0 : 1;
}

// One JSON line per run, appended and flushed at once, so that an interrupted benchmark keeps
// what it measured.
class Results {
public:
    explicit Results(const std::string& path) : file_(path.empty() ? stdout : std::fopen(path.c_str(), "a")) {}
    ~Results()
    {
        if (file_ != nullptr && file_ != stdout)
            std::fclose(file_);
    }
    bool ok() const { return file_ != nullptr; }
    void Write(const std::string& line)
    {
        std::fprintf(file_, "%s\n", line.c_str());
        std::fflush(file_);
    }

private:
    FILE* file_;
};

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if (static_cast<unsigned char>(c) >= 0x20)
            quoted += c;
    }
    return quoted + "\"";
}

// The traced stub's totals: "name calls microseconds" lines.
std::string ReadTrace(const std::string& path)
{
    std::string json;
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return "";
    char name[64];
    unsigned long calls = 0;
    unsigned long microseconds = 0;
    while (std::fscanf(file, "%63s %lu %lu", name, &calls, &microseconds) == 3) {
        json += json.empty() ? "" : ",";
        json += Quoted(name) + ":[" + std::to_string(calls) + "," + std::to_string(microseconds) + "]";
    }
    std::fclose(file);
    return "{" + json + "}";
}

struct Program {
    std::string name;
    std::string uninstaller; // copied to the installation folder as uninstall.exe
    std::string commandLine;
    bool removes = true; // the in-use probe only looks
    bool traced = false;
    bool confirm = false; // stops at the confirmation box and cancels there
    bool probe = false;   // writes its figures to probe.txt
};

class Runner {
public:
    Runner(const Options& options, Results* results) : options_(options), results_(results) {}
    int failures() const { return failures_; }

    // Clears the tree, creates W(n) or, for a load run, only the installation folder, puts the
    // uninstaller in place, runs the program and records the result.
    void Run(const std::string& kind, const Workload& w, const Program& program, int rep)
    {
        std::string error;
        bool removal = kind == "remove";
        LONGLONG setupStart = bench::Ticks();
        if (!Setup(w, removal, &error) || !CopyFileA(program.uninstaller.c_str(), w.UninstallerPath().c_str(), FALSE)) {
            Fail(kind, w, program, rep, error.empty() ? "cannot place " + program.uninstaller : error);
            return;
        }
        double setupSeconds = bench::Seconds(bench::Ticks() - setupStart);
        std::string tracePath = WorkPath(options_, "trace.txt");
        std::string probePath = WorkPath(options_, "probe.txt");
        DeleteFileA(tracePath.c_str());
        DeleteFileA(probePath.c_str());
        SetEnvironmentVariableA("QUILLON_BENCH_TRACE", program.traced ? tracePath.c_str() : nullptr);

        DWORD timeout = 120000 + static_cast<DWORD>(options_.msPerItem * w.RemovedItemCount());
        ProcessRun run = program.confirm ? bench::RunToConfirmation(program.commandLine, w.root, timeout)
                                         : bench::RunTimed(program.commandLine, w.root, timeout);
        std::string left = removal && program.removes && run.started ? bench::Leftovers(w) : "";
        bool failed = !run.started || run.timedOut || run.exitCode != 0 || !left.empty();
        failures_ += failed ? 1 : 0;

        std::string line = "{\"kind\":" + Quoted(kind) + ",\"n\":" + std::to_string(w.n) +
                           ",\"program\":" + Quoted(program.name) + ",\"rep\":" + std::to_string(rep) +
                           ",\"items\":" + std::to_string(removal ? w.RemovedItemCount() : w.n);
        char number[64];
        std::snprintf(number, sizeof number, "%.6f", run.seconds);
        line += ",\"seconds\":" + std::string(number);
        std::snprintf(number, sizeof number, "%.3f", setupSeconds);
        line += ",\"setup\":" + std::string(number);
        std::snprintf(number, sizeof number, "%.6f", run.secondsToBox);
        line += ",\"to_box\":" + std::string(number) + ",\"peak_ws\":" + std::to_string(run.peakWorkingSet) +
                ",\"exit\":" + std::to_string(static_cast<int>(run.exitCode)) +
                ",\"ok\":" + (failed ? "false" : "true") + ",\"left\":" + Quoted(left + run.error);
        if (program.traced)
            line += ",\"trace\":" + (FileExists(tracePath) ? ReadTrace(tracePath) : "{}");
        if (program.probe)
            line += ",\"probe\":" + (FileExists(probePath) ? ReadTrace(probePath) : "{}");
        results_->Write(line + "}");
        std::string box = program.confirm ? " (box at " + std::string(number) + " s)" : "";
        std::fprintf(stderr, "  %-6s n=%-6d %-16s rep %d: %8.3f s%s, setup %.1f s%s\n", kind.c_str(), w.n,
                     program.name.c_str(), rep, run.seconds, box.c_str(), setupSeconds,
                     failed ? ("  FAILED: " + left + run.error).c_str() : "");
    }

private:
    bool Setup(const Workload& w, bool removal, std::string* error)
    {
        if (options_.treeHelper.empty()) {
            return bench::CleanTree(w.root, error) &&
                   (removal ? bench::CreateTree(w, error) : MakeInstallDir(w, error));
        }
        bench::CleanRegistry();
        if (!removal)
            return RequestTree("tree-bare.txt", error);
        return RequestTree(Numbered("tree-", w.n, ".txt"), error) && bench::CreateRegistry(error);
    }

    // Asks the tree helper for the tree of a listing and waits for its answer.
    bool RequestTree(const std::string& listing, std::string* error)
    {
        std::string request = options_.treeHelper + "\\request";
        std::string done = options_.treeHelper + "\\done";
        DeleteFileA(done.c_str());
        if (!WriteText(request + ".tmp", listing) ||
            !MoveFileExA((request + ".tmp").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            *error = "cannot write " + request;
            return false;
        }
        LONGLONG limit = bench::Ticks() + static_cast<LONGLONG>(600 / bench::Seconds(1));
        while (!FileExists(done)) {
            if (bench::Ticks() > limit) {
                *error = "no answer from the tree helper";
                return false;
            }
            Sleep(2);
        }
        quillon::Bytes answer;
        quillon::ReadFileBytes(done, &answer, error);
        DeleteFileA(done.c_str());
        std::string text(answer.begin(), answer.end());
        if (text != "ok") {
            *error = "tree helper: " + text;
            return false;
        }
        return true;
    }

    static bool MakeInstallDir(const Workload& w, std::string* error)
    {
        CreateDirectoryA(w.root.c_str(), nullptr);
        if (!CreateDirectoryA(w.InstallDir().c_str(), nullptr)) {
            *error = "cannot create " + w.InstallDir();
            return false;
        }
        return true;
    }

    void Fail(const std::string& kind, const Workload& w, const Program& program, int rep, const std::string& error)
    {
        ++failures_;
        results_->Write("{\"kind\":" + Quoted(kind) + ",\"n\":" + std::to_string(w.n) + ",\"program\":" +
                        Quoted(program.name) + ",\"rep\":" + std::to_string(rep) + ",\"ok\":false,\"left\":" +
                        Quoted(error) + "}");
        std::fprintf(stderr, "  %s n=%d %s rep %d: FAILED: %s\n", kind.c_str(), w.n, program.name.c_str(), rep,
                     error.c_str());
    }

    const Options& options_;
    Results* results_;
    int failures_ = 0;
};

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

// The NSIS installers only write their uninstallers; that happens once, before any timing.
bool MakeNsisUninstaller(const Options& options, int n)
{
    std::string uninstaller = WorkPath(options, Numbered("nsis-uninst-", n, ".exe"));
    std::string setup = WorkPath(options, Numbered("nsis-setup-", n, ".exe"));
    if (FileExists(uninstaller))
        return true;
    if (!FileExists(setup))
        return false;
    ProcessRun run = bench::RunTimed(Quote(setup) + " /S", options.work, 300000);
    return run.started && !run.timedOut && FileExists(uninstaller);
}

int RunAll(const Options& options)
{
    Results results(options.results);
    if (!results.ok()) {
        std::fprintf(stderr, "cannot open %s\n", options.results.c_str());
        return 1;
    }
    Runner runner(options, &results);
    std::map<int, bool> haveNsis;
    for (int n : options.ns) {
        haveNsis[n] = MakeNsisUninstaller(options, n);
        if (!haveNsis[n])
            std::fprintf(stderr, "no NSIS uninstaller for n=%d: NSIS is left out\n", n);
    }

    auto programsFor = [&](const Workload& w) {
        std::string quillon = WorkPath(options, Numbered("quillon-", w.n, ".exe"));
        std::string uninstaller = Quote(w.UninstallerPath());
        std::vector<Program> programs;
        programs.push_back({"quillon", quillon, uninstaller + " /S"});
        programs.push_back({"raw", quillon,
                            Quote(options.bin + "\\bench-raw-remove.exe") + " " +
                                Quote(WorkPath(options, Numbered("raw-", w.n, ".ops")))});
        if (haveNsis[w.n])
            programs.push_back({"nsis", WorkPath(options, Numbered("nsis-uninst-", w.n, ".exe")),
                                uninstaller + " /S _?=" + w.InstallDir()});
        return programs;
    };
    auto probesFor = [&](const Workload& w) {
        std::string quillon = WorkPath(options, Numbered("quillon-", w.n, ".exe"));
        std::vector<Program> probes;
        probes.push_back({"traced", WorkPath(options, Numbered("traced-", w.n, ".exe")),
                          Quote(w.UninstallerPath()) + " /S", true, true});
        probes.push_back({"inuse", quillon,
                          Quote(options.bin + "\\bench-probe.exe") + " inuse " +
                              Quote(WorkPath(options, Numbered("inuse-", w.n, ".list"))) + " " +
                              Quote(WorkPath(options, "probe.txt")),
                          false, false, false, true});
        return probes;
    };

    // Warm-up, not recorded: the first windowed program starts Wine's desktop process, and the
    // first start of each program fills the caches.
    if (!options.ns.empty()) {
        Workload w{options.root, options.ns.front()};
        Results discard(WorkPath(options, "warmup.jsonl"));
        Runner warm(options, &discard);
        for (const Program& program : programsFor(w))
            warm.Run("remove", w, program, -1);
    }

    for (int n : options.ns) {
        Workload w{options.root, n};
        for (int rep = 0; rep < options.reps; ++rep) {
            std::vector<Program> programs = programsFor(w);
            if (rep < options.traceReps) {
                for (const Program& probe : probesFor(w))
                    programs.push_back(probe);
            }
            for (size_t index = 0; index < programs.size(); ++index)
                runner.Run("remove", w, programs[(index + rep) % programs.size()], rep);
        }
    }

    // The protected-folder test and its shell lookups, on their own.
    for (int rep = 0; rep < options.traceReps; ++rep) {
        Program shell{"shell", WorkPath(options, "load-0.exe"),
                      Quote(options.bin + "\\bench-probe.exe") + " shell " + Quote(WorkPath(options, "probe.txt")),
                      false, false, false, true};
        runner.Run("probe", Workload{options.root, 0}, shell, rep);
    }

    // A quiet run over entries whose files and folders are all gone already: the file pass finds
    // nothing, and the empty-folder pass tries every entry's folder.
    if (options.absentN > 0) {
        Workload w{options.root, options.absentN};
        Program absent{Numbered("absent-traced-", w.n, ""), WorkPath(options, Numbered("absent-traced-", w.n, ".exe")),
                       Quote(w.UninstallerPath()) + " /S", false, true};
        runner.Run("absent", w, absent, 0);
    }

    if (options.loadReps > 0) {
        Workload w{options.root, 0};
        std::vector<std::pair<int, Program>> loads;
        for (int n : {0, options.loadN}) {
            loads.push_back({n, {Numbered("load-", n, ""), WorkPath(options, Numbered("load-", n, ".exe")),
                                 Quote(w.UninstallerPath()), true, false, true}});
            loads.push_back({n, {Numbered("load-traced-", n, ""), WorkPath(options, Numbered("load-traced-", n, ".exe")),
                                 Quote(w.UninstallerPath()), true, true, true}});
        }
        for (int rep = 0; rep < options.loadReps; ++rep) {
            for (size_t index = 0; index < loads.size(); ++index) {
                const auto& load = loads[(index + rep) % loads.size()];
                runner.Run("load", Workload{options.root, load.first}, load.second, rep);
            }
        }
    }
    std::string error;
    bench::CleanTree(options.root, &error);
    return runner.failures() == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options) || (options.mode != "prepare" && options.mode != "run")) {
        std::fprintf(stderr, "usage: quillon-bench prepare|run --work FOLDER [options]; see bench/driver/main.cpp\n");
        return 2;
    }
    if (options.mode == "prepare")
        return Prepare(options);
    return RunAll(options);
}
