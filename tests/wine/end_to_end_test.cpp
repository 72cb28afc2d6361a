// The real norix-native-sandbox.exe, started as a separate process.
//
// Wine 8 has no AppContainer profiles: there the copy of the exe in wine-double/ runs, beside a
// test double of userenv.dll (WINEDLLOVERRIDES="userenv=n,b"). The grants, letters, record,
// environment and program resolution then run for real, and Wine refuses the AppContainer
// process attribute with 50. On Windows the exe itself runs the child to its end.
#include "common/text.hpp"
#include "platform.hpp"
#include "run/child_command_line.hpp"
#include "temp_directory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

std::string module_directory() {
    WCHAR buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::string path = to_utf8(WideStringView(buffer, length));
    return path.substr(0, path.find_last_of('\\'));
}

// The exe sits in the build directory, one level above the test binary.
std::string launcher_path() {
    const std::string tests = module_directory();
    const std::string build = tests.substr(0, tests.find_last_of('\\'));
    return build + (running_on_wine() ? "\\wine-double" : "") + "\\norix-native-sandbox.exe";
}

struct Outcome {
    DWORD status = 0;
    std::string error; // what the launcher wrote to standard error
};

// Runs the launcher with `arguments`, standard error into a pipe, tracing on and the test
// double of userenv.dll.
Outcome run_launcher(const std::vector<std::string>& arguments, bool trace = true) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (CreatePipe(&read_end, &write_end, &inheritable, 0) == FALSE) {
        ADD_FAILURE() << "CreatePipe " << GetLastError();
        return {};
    }
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    // The environment of the test process, plus the switches of the run.
    std::wstring block;
    for (const wchar_t* entry = GetEnvironmentStringsW(); *entry != L'\0';
         entry += wcslen(entry) + 1) {
        block += entry;
        block.push_back(L'\0');
    }
    block += L"WINEDLLOVERRIDES=userenv=n,b";
    block.push_back(L'\0');
    if (trace) {
        block += L"NORIX_SANDBOX_TRACE=1";
        block.push_back(L'\0');
    }
    block.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION process{};
    std::wstring command_line = to_wide(build_command_line(launcher_path(), arguments));
    if (CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup,
                       &process) == FALSE) {
        ADD_FAILURE() << "CreateProcessW " << GetLastError();
        CloseHandle(read_end);
        CloseHandle(write_end);
        return {};
    }
    CloseHandle(write_end);
    Outcome outcome;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof(buffer), &got, nullptr) != FALSE && got > 0) {
        outcome.error.append(buffer, got);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &outcome.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(read_end);
    return outcome;
}

// Letters defined onto a path (not Wine's own drives, whose targets are volumes).
std::vector<std::string> defined_letters() {
    std::vector<std::string> letters;
    for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
        const wchar_t name[] = {letter, L':', L'\0'};
        WCHAR target[1024];
        if (QueryDosDeviceW(name, target, 1024) != 0 && wcsncmp(target, L"\\Device\\", 8) != 0) {
            letters.push_back(to_utf8(name));
        }
    }
    return letters;
}

const std::string USAGE =
    "native sandbox failed: usage: norix-native-sandbox --project <path> --scratch <path> "
    "--profile <name> --network deny -- <program> [args...]\n";

const char* const GRANT_TRACE[] = {"grant-project", "grant-mount", "acl-read",      "acl-merge",
                                   "acl-set",       "acl-done",    "grant-scratch", "grant-mount",
                                   "acl-read",      "acl-merge",   "acl-set",       "acl-done"};

// The trace lines of a run that got through both grants, then the failure line.
std::string grants_then(const std::string& project, const std::string& scratch,
                        const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < std::size(GRANT_TRACE); ++i) {
        out += std::string("sandbox-stage=") + GRANT_TRACE[i];
        if (i == 1) {
            out += " path=" + project;
        } else if (i == 7) {
            out += " path=" + scratch;
        }
        out += "\n";
    }
    return out + line;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        project_ = temp_.make_directory("Proj");
        scratch_ = temp_.make_directory("Scratch");
        temp_.make_directory("Proj\\bin");
        temp_.make_file("Proj\\bin\\tool.exe", "MZ");
        temp_.make_file("outside.exe", "MZ");
        temp_.make_file("notes.txt");
        project_canonical_ = "\\\\?\\" + project_;
        scratch_canonical_ = "\\\\?\\" + scratch_;
    }

    std::vector<std::string> arguments(const std::string& program,
                                       const std::string& profile = "norix-e2e") const {
        return {"--project", project_, "--scratch", scratch_, "--profile",       profile,
                "--network", "deny",   "--",        program,  project_ + "\\bin"};
    }

    void expect_nothing_left() const {
        EXPECT_EQ(defined_letters(), std::vector<std::string>{});
        const DWORD attributes = GetFileAttributesW(
            to_wide(temp_.path() + "\\.Scratch.norix-native-sandbox-mounts").c_str());
        EXPECT_EQ(attributes, INVALID_FILE_ATTRIBUTES);
    }

    TempDirectory temp_;
    std::string project_;
    std::string scratch_;
    std::string project_canonical_;
    std::string scratch_canonical_;
};

TEST_F(EndToEnd, CommandLineFailures) {
    const std::string network = "native sandbox failed: native processes cannot receive direct "
                                "network access\n";
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    };
    const Case cases[] = {
        {{}, USAGE},
        {{"--project", project_}, USAGE},
        {{"--project", project_, "--"}, USAGE},
        {{"--profile", "--", "t"}, "native sandbox failed: missing value for --profile\n"},
        {{"--Project", "x", "--", "t"},
         "native sandbox failed: unknown sandbox option: --Project\n"},
        {{"--", "t"}, network},
        {{"--network", "allow", "--", "t"}, network},
        {{"--network", "deny", "--", "t"}, "native sandbox failed: missing --project\n"},
        {{"--network", "deny", "--project", project_, "--", "t"},
         "native sandbox failed: missing --scratch\n"},
        {{"--network", "deny", "--project", project_, "--scratch", scratch_, "--", "t"},
         "native sandbox failed: missing --profile\n"},
        {{"--network", "deny", "--project", project_, "--scratch", scratch_, "--profile", "a/b",
          "--", "t"},
         "native sandbox failed: invalid AppContainer profile name\n"},
        {{"--network", "deny", "--project", temp_.path() + "\\notes.txt", "--", "t"},
         "native sandbox failed: sandbox mount is not a directory: \\\\?\\" + temp_.path() +
             "\\notes.txt\n"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = run_launcher(c.arguments);
        EXPECT_EQ(outcome.status, 126U) << c.error;
        EXPECT_EQ(outcome.error, c.error);
    }
    // Wine's own message text, then the code.
    const Outcome missing =
        run_launcher({"--network", "deny", "--project", project_ + "\\nope", "--", "t"});
    EXPECT_EQ(missing.status, 126U);
    EXPECT_THAT(missing.error,
                StartsWith("native sandbox failed: cannot resolve " + project_ + "\\nope: "));
    EXPECT_THAT(missing.error, EndsWith(". (os error 2)\n"));
    expect_nothing_left();
}

TEST_F(EndToEnd, ScratchAtADriveRootHasNoParent) {
    if (!running_on_wine()) {
        GTEST_SKIP() << "Wine only";
    }
    // M: is a Wine drive whose root is a real directory (make_fixtures.sh). On Windows a drive
    // root would mean granting the AppContainer the whole drive.
    std::vector<std::string> args = arguments("bin\\tool.exe");
    args[3] = "M:\\";
    const Outcome outcome = run_launcher(args);
    EXPECT_EQ(outcome.status, 126U);
    EXPECT_EQ(outcome.error,
              grants_then(project_canonical_, "\\\\?\\M:\\",
                          "native sandbox failed: sandbox scratch path has no parent\n"));
    expect_nothing_left();
}

TEST_F(EndToEnd, ProgramResolutionFailures) {
    const std::pair<std::string, std::string> cases[] = {
        {"bin\\missing.exe", "native sandbox failed: cannot resolve sandbox program " +
                                 project_canonical_ + "\\bin\\missing.exe: "},
        {"..\\outside.exe", "native sandbox failed: relative sandbox program escaped the project "
                            "mount\n"},
        {temp_.path() + "\\outside.exe", "native sandbox failed: absolute sandbox program is "
                                         "outside trusted system runtime roots\n"},
    };
    for (const auto& [program, line] : cases) {
        const Outcome outcome = run_launcher(arguments(program));
        EXPECT_EQ(outcome.status, 126U) << program;
        EXPECT_THAT(outcome.error,
                    StartsWith(grants_then(project_canonical_, scratch_canonical_, line)))
            << program;
        expect_nothing_left();
    }
}

TEST_F(EndToEnd, AcceptedProgramReachesTheAppContainerAttribute) {
    if (!running_on_wine()) {
        GTEST_SKIP() << "Wine only";
    }
    for (const std::string& program :
         {std::string("bin\\tool.exe"), std::string("C:\\windows\\system32\\cmd.exe")}) {
        const Outcome outcome = run_launcher(arguments(program));
        EXPECT_EQ(outcome.status, 126U);
        EXPECT_EQ(outcome.error,
                  grants_then(project_canonical_, scratch_canonical_,
                              "native sandbox failed: cannot apply AppContainer process "
                              "attribute: Win32 50\n"));
        expect_nothing_left();
    }
}

TEST_F(EndToEnd, ProfileFailuresOfTheDouble) {
    if (!running_on_wine()) {
        GTEST_SKIP() << "Wine only";
    }
    SetEnvironmentVariableW(L"NORIX_USERENV_DOUBLE_FAIL", L"create=0x80070005");
    const Outcome created = run_launcher(arguments("bin\\tool.exe"));
    SetEnvironmentVariableW(L"NORIX_USERENV_DOUBLE_FAIL", nullptr);
    EXPECT_EQ(created.status, 126U);
    EXPECT_EQ(created.error,
              "native sandbox failed: cannot create AppContainer profile: HRESULT 0x80070005\n");

    run_launcher(arguments("bin\\tool.exe", "norix-e2e-existing")); // makes the profile
    SetEnvironmentVariableW(L"NORIX_USERENV_DOUBLE_FAIL", L"derive=0x80070057");
    const Outcome derived = run_launcher(arguments("bin\\tool.exe", "NORIX-E2E-EXISTING"));
    SetEnvironmentVariableW(L"NORIX_USERENV_DOUBLE_FAIL", nullptr);
    EXPECT_EQ(derived.status, 126U);
    EXPECT_EQ(derived.error,
              "native sandbox failed: cannot derive AppContainer SID: HRESULT 0x80070057\n");
    expect_nothing_left();
}

TEST_F(EndToEnd, WithoutTraceOnlyTheFailureLine) {
    if (!running_on_wine()) {
        GTEST_SKIP() << "Wine only";
    }
    const Outcome outcome = run_launcher(arguments("bin\\tool.exe"), false);
    EXPECT_EQ(outcome.status, 126U);
    EXPECT_EQ(outcome.error,
              "native sandbox failed: cannot apply AppContainer process attribute: Win32 50\n");
}

// On Windows the run goes to its end: the child runs in the AppContainer, on the mounts.
class FullRun : public EndToEnd {
protected:
    void SetUp() override {
        if (running_on_wine()) {
            GTEST_SKIP() << "Windows only: Wine refuses the AppContainer attribute";
        }
        EndToEnd::SetUp();
        const std::string child = module_directory() + "\\sandbox_child.exe";
        ASSERT_NE(CopyFileW(to_wide(child).c_str(), to_wide(project_ + "\\bin\\child.exe").c_str(),
                            FALSE),
                  FALSE);
        // The two letters the run will take: the highest free ones.
        for (char letter = 'Z'; letter >= 'D' && letters_.size() < 2; --letter) {
            const std::string name{letter, ':'};
            WCHAR target[8];
            if (QueryDosDeviceW(to_wide(name).c_str(), target, 8) == 0 &&
                GetLastError() == ERROR_FILE_NOT_FOUND) {
                letters_.push_back(name);
            }
        }
        ASSERT_EQ(letters_.size(), 2U);
    }

    Outcome run_child(const std::vector<std::string>& child_arguments) const {
        std::vector<std::string> args = {"--project", project_,        "--scratch", scratch_,
                                         "--profile", "norix-e2e",     "--network", "deny",
                                         "--",        "bin\\child.exe"};
        args.insert(args.end(), child_arguments.begin(), child_arguments.end());
        return run_launcher(args, false);
    }

    std::vector<std::string> letters_;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

TEST_F(FullRun, ChildSeesItsMountsArgumentsAndEnvironment) {
    SetEnvironmentVariableW(L"NORIX_E2E_PATH", to_wide(project_ + "\\bin;C:\\Windows").c_str());
    const Outcome outcome = run_child({"7", "plain", project_ + "\\data", scratch_ + "\\out"});
    SetEnvironmentVariableW(L"NORIX_E2E_PATH", nullptr);
    const std::string& p = letters_[0];
    const std::string& s = letters_[1];
    EXPECT_EQ(outcome.status, 7U);
    EXPECT_EQ(lines_of(outcome.error),
              (std::vector<std::string>{
                  "argv=" + p + "\\bin\\child.exe", "argv=7", "argv=plain", "argv=" + p + "\\data",
                  "argv=" + s + "\\out", "cwd=" + p + "\\", "NORIX_PROJECT_ROOT=" + p + "\\",
                  "NORIX_SCRATCH_ROOT=" + s + "\\", "TEMP=" + s + "\\", "TMP=" + s + "\\",
                  "NORIX_E2E_PATH=" + p + "\\bin;C:\\Windows"}));
    expect_nothing_left();
}

TEST_F(FullRun, ExitCodesPassBackOrFallBack) {
    const std::pair<const char*, DWORD> cases[] = {
        {"0", 0}, {"255", 255}, {"256", 125}, {"0xC0000005", 125}};
    for (const auto& [code, status] : cases) {
        EXPECT_EQ(run_child({code}).status, status) << code;
    }
    expect_nothing_left();
}

TEST_F(FullRun, GrandchildEndsWithTheJob) {
    const Outcome outcome = run_child({"0", "grandchild"});
    EXPECT_EQ(outcome.status, 0U);
    DWORD pid = 0;
    for (const auto& line : lines_of(outcome.error)) {
        if (line.starts_with("grandchild=")) {
            pid = static_cast<DWORD>(std::stoul(line.substr(11)));
        }
    }
    ASSERT_NE(pid, 0U) << outcome.error;
    const HANDLE grandchild = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (grandchild != nullptr) { // gone already, or ending
        EXPECT_EQ(WaitForSingleObject(grandchild, 5000), WAIT_OBJECT_0);
        CloseHandle(grandchild);
    }
}

} // namespace
