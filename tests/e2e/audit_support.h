// Running quillon-audit from a test: its output and errors caught, its JSON report read back.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "win_test.h"

namespace qt {

struct AuditRun {
    DWORD exitCode = STILL_ACTIVE;
    std::string out;
    std::string err;
    nlohmann::json Json() const { return nlohmann::json::parse(out, nullptr, false); }
};

// Runs quillon-audit with its output and errors caught in files.
inline AuditRun Audit(const std::string& arguments)
{
    static int calls = 0; // a folder per call: the last run's handles may linger a moment
    std::string folder = qt::FreshFolder("audit-output-" + std::to_string(++calls));
    std::string outPath = qt::Join(folder, "out.txt");
    std::string errPath = qt::Join(folder, "err.txt");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + qt::WindowsPath(QUILLON_AUDIT_EXE) + "\" " + arguments;
    AuditRun run;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, STILL_ACTIVE);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_NE(static_cast<DWORD>(STILL_ACTIVE), run.exitCode) << "quillon-audit " << arguments;
    // The console's line ends, read as plain ones.
    for (auto [path, text] : {std::pair{&outPath, &run.out}, std::pair{&errPath, &run.err}}) {
        for (char c : qt::ReadTextFile(*path)) {
            if (c != '\r')
                *text += c;
        }
    }
    qt::RemoveTree(folder);
    return run;
}

inline std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// One line per item: "status reason kind path[\\value]", in the order the audit gives them.
inline std::vector<std::string> ItemLines(const nlohmann::json& report)
{
    std::vector<std::string> lines;
    for (const auto& item : report["items"]) {
        std::string line = item["status"].get<std::string>() + " " +
                           (item["reason"].is_null() ? std::string("-") : item["reason"].get<std::string>()) + " " +
                           item["kind"].get<std::string>() + " " + item["path"].get<std::string>();
        if (item.contains("value"))
            line += "\\\\" + item["value"].get<std::string>();
        lines.push_back(line);
    }
    return lines;
}

} // namespace qt
