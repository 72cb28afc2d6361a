// The real norix-native-sandbox.exe, started as a separate process, runs a child to its end.
//
// Under Wine the copy of the exe in wine-double/ runs, beside the test double of userenv.dll
// (WINEDLLOVERRIDES="userenv=n,b"), which stands in for the AppContainer profiles, the
// AppContainer attribute and the drive letters that Wine lacks (userenv_double/userenv.cpp); the
// child then runs unconfined. On Windows the exe itself runs, with no double, and the child runs
// in the AppContainer.
#include "launcher.hpp"
#include "wine/userenv_double/double_state.hpp"

#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

// The last error of a 4-unit query: 2 for a free letter.
DWORD query_error(const std::string& drive) {
    WCHAR listing[4] = {};
    return QueryDosDeviceW(to_wide(drive).c_str(), listing, 4) == 0 ? GetLastError() : 0;
}

class EndToEnd : public SandboxTest {
protected:
    void SetUp() override {
        make_directory("Proj\\bin");
        make_file("Proj\\data.txt", "project data");
        copy_program("sandbox_child.exe", project_ + "\\bin\\child.exe");
        // The free letters, highest first: a run takes the first two (under Wine, Z: is taken).
        for (char letter = 'Z'; letter >= 'D'; --letter) {
            if (query_error({letter, ':'}) == ERROR_FILE_NOT_FOUND) {
                letters_.push_back({letter, ':'});
            }
        }
        ASSERT_GE(letters_.size(), 4U);
        SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"userenv=n,b");
    }

    void expect_nothing_left() const {
        for (const auto& letter : letters_) {
            EXPECT_EQ(query_error(letter), ERROR_FILE_NOT_FOUND) << letter;
        }
        EXPECT_EQ(read_file(record_), "(missing)");
    }

    std::vector<std::string> letters_;
    std::string record_ = root_ + "\\.Scratch.norix-native-sandbox-mounts";
};

// Waits for the processes whose pids follow `keys` in a child's report to end; ends those that do
// not (under Wine they would keep this test's own output open).
void expect_ended(const std::string& output, std::initializer_list<const char*> keys) {
    for (const std::string key : keys) {
        const std::size_t at = output.find("\n" + key);
        ASSERT_NE(at, std::string::npos) << key << " in " << output;
        const HANDLE process =
            OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                        static_cast<DWORD>(std::stoul(output.substr(at + 1 + key.size()))));
        if (process != nullptr) { // else gone already
            EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << key;
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
}

TEST_F(EndToEnd, ChildRunsToItsEndOnTheMounts) {
    const std::string &p = letters_[0], &s = letters_[1];
    copy_program("sandbox_child.exe", scratch_ + "\\child.exe");
    // An inheritable handle of the caller's, inherited by the launcher, stays out of the child.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE held = CreateFileW(to_wide(project_ + "\\data.txt").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
    const std::string handle = "handle=" + std::to_string(reinterpret_cast<std::uintptr_t>(held));
    // Arguments that reach the child unchanged, after those of each row.
    const std::vector<std::string> unchanged{
        "a b", "say \"hi\"", "C:\\my dir\\", "trailing\\", "na\xc3\xafve \xe2\x82\xac", ""};
    // The calling user's profile as the project is refused, named as the system names it.
    const std::string profile = to_utf8(WideStringView(_wgetenv(L"USERPROFILE")));
    struct Row {
        std::vector<std::string> given, seen; // the child's argv; none seen from cmd.exe
        std::string extra;                    // what the child reports after the variables
        DWORD status;
        std::string error = "child on stderr\n", project = {};
    };
    const Row rows[] = {
        {.given = {"bin\\child.exe", "7", "read=" + project_ + "\\data.txt",
                   "write=" + scratch_ + "\\out.txt", handle},
         .seen = {p + "\\bin\\child.exe", "7", "read=" + p + "\\data.txt",
                  "write=" + s + "\\out.txt", handle},
         .extra = "read=project data\nwrote=" + s + "\\out.txt\nhandle=closed\n",
         .status = 7},
        {.given = {scratch_ + "\\child.exe", "3"}, .seen = {s + "\\child.exe", "3"}, .status = 3},
        {.given = {"C:\\windows\\system32\\cmd.exe", "/c", "exit", "4"}, .status = 4, .error = ""},
        {.given = {"bin\\child.exe", "0"},
         .status = 126,
         .error = "native sandbox failed: sandbox mount covers a protected system or profile "
                  "folder: " +
                  profile + " (the calling user's profile)\n",
         .project = profile},
    };
    for (Row row : rows) {
        if (!row.seen.empty()) {
            row.given.insert(row.given.end(), unchanged.begin(), unchanged.end());
            row.seen.insert(row.seen.end(), unchanged.begin(), unchanged.end());
        }
        Launcher launcher(root_ + "\\launcher", sandboxed(row.given, "norix-e2e", row.project));
        launcher.send("hello from the caller\n");
        EXPECT_EQ(launcher.wait(), row.status) << row.given[0];
        std::string seen;
        for (const auto& element : row.seen) {
            seen += "argv=" + element + "\n";
        }
        if (!seen.empty()) {
            seen += "cwd=" + p + "\\\nNORIX_PROJECT_ROOT=" + p + "\\\nNORIX_SCRATCH_ROOT=" + s +
                    "\\\nTEMP=" + s + "\\\nTMP=" + s + "\\\n" + row.extra +
                    "stdin=hello from the caller\n";
        }
        EXPECT_EQ(launcher.output(), seen);
        EXPECT_EQ(launcher.error(), row.error);
        expect_nothing_left();
    }
    CloseHandle(held);
    EXPECT_EQ(read_file(scratch_ + "\\out.txt"), "written by the child");
}

// Two runs at once take four letters and each child sees its own project. The second project lies
// inside the first: while the first run's letters exist, Wine names its files through them, so the
// double must know the letters that another process defined. The second launcher is killed during
// its wait: its job still ends its child and grandchild, and it leaves its letters and its record,
// which names exactly them; the cleanup program removes those that are still its own. The first
// is stopped by its host, which has no console, through its event: its job ends its child and
// grandchild, and the report's last line says so.
TEST_F(EndToEnd, TwoLaunchersAtOnceOneKilledOneStopped) {
    const std::string inner = project_ + "\\inner", other_scratch = make_directory("Scratch2");
    make_directory("Proj\\inner\\bin");
    make_file("Proj\\inner\\data.txt", "inner data");
    copy_program("sandbox_child.exe", inner + "\\bin\\child.exe");
    const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, L"Local\\norix-e2e-stop");
    const std::string report = root_ + "\\first.jsonl";
    auto command = sandboxed(
        {"bin\\child.exe", "0", "read=" + project_ + "\\data.txt", "grandchild"}, "norix-e2e");
    command.insert(command.begin() + 1,
                   {"--report", report, "--stop-event", "Local\\norix-e2e-stop"});
    Launcher first(root_ + "\\first", command);
    ASSERT_TRUE(first.wait_for_output("grandchild=")) << first.output();
    Launcher second(root_ + "\\second",
                    sandboxed({"bin\\child.exe", "0", "read=" + inner + "\\data.txt", "grandchild"},
                              "norix-e2e", inner, other_scratch));
    ASSERT_TRUE(second.wait_for_output("grandchild=")) << second.output();
    TerminateProcess(second.process(), 9);
    WaitForSingleObject(second.process(), INFINITE);
    expect_ended(second.output(), {"child=", "grandchild="});
    SetEvent(stop);
    EXPECT_EQ(first.wait(), 130U);
    CloseHandle(stop);
    expect_ended(first.output(), {"child=", "grandchild="});
    EXPECT_THAT(read_file(report), EndsWith("\n{\"event\":\"stopped\",\"status\":130}\n"));
    EXPECT_THAT(first.output(), HasSubstr("cwd=" + letters_[0] + "\\\nNORIX_PROJECT_ROOT"));
    EXPECT_THAT(first.output(), HasSubstr("read=project data\n"));
    EXPECT_THAT(second.output(), HasSubstr("cwd=" + letters_[2] + "\\\nNORIX_PROJECT_ROOT"));
    EXPECT_THAT(second.output(), HasSubstr("read=inner data\n"));
    // Its letters are still there; the first run's are gone (checked at the end). Then the cleanup
    // program, with the scratch letter now mapping elsewhere. Under Wine the double's letters are
    // drives of Wine's mount manager, which a process without the double, as the cleanup is, sees
    // as "\Device\HarddiskVolumeN": the test bed defines the project letter again with Wine's
    // DefineDosDeviceW, onto its target as Windows would show it.
    const std::string target = "\\??\\" + inner, elsewhere = "\\??\\" + project_;
    const auto define = [](const std::string& letter, const std::string& to, DWORD flags) {
        return DefineDosDeviceW(flags, to_wide(letter).c_str(), to_wide(to).c_str());
    };
    if (running_on_wine()) {
        EXPECT_TRUE(userenv_double::remove(letters_[2][0]) &&
                    userenv_double::remove(letters_[3][0]));
        define(letters_[2], target, DDD_RAW_TARGET_PATH);
    } else {
        EXPECT_NE(define(letters_[3], "\\??\\" + other_scratch, 0xF), FALSE);
    }
    define(letters_[3], elsewhere, DDD_RAW_TARGET_PATH);
    Launcher cleanup(root_ + "\\cleanup",
                     {build_exe("norix-native-sandbox-cleanup.exe"), other_scratch});
    EXPECT_EQ(cleanup.wait(), 0U);
    EXPECT_EQ(cleanup.error(), letters_[2] + " " + target + ": removed\n" + letters_[3] +
                                   " \\??\\" + other_scratch +
                                   ": left, the letter now maps elsewhere\n");
    EXPECT_NE(define(letters_[3], elsewhere, 0xF), FALSE);
    expect_nothing_left();
}

// What a child may leave where the record goes, when the scratch directory lies in the project:
// a second name of a file, a link to a file, a link to a directory. The run removes the name, not
// the file or directory behind it, and writes its own record there.
TEST_F(EndToEnd, RecordPathHoldingALinkOrASecondName) {
    const std::string kept = root_ + "\\Kept.txt", kept_dir = make_directory("KeptDir");
    make_file("Kept.txt", "kept");
    const WideString record = to_wide(record_);
    const auto link = [&](const std::string& to, DWORD flag) {
        return !running_on_wine() &&
               CreateSymbolicLinkW(record.c_str(), to_wide(to).c_str(),
                                   flag | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    };
    const std::pair<const char*, std::function<bool()>> rows[] = {
        {"hard link",
         [&] { return CreateHardLinkW(record.c_str(), to_wide(kept).c_str(), nullptr) != FALSE; }},
        {"file link", [&] { return link(kept, 0); }},
        {"directory link", [&] { return link(kept_dir, SYMBOLIC_LINK_FLAG_DIRECTORY); }}};
    for (const auto& [name, make] : rows) {
        SCOPED_TRACE(name);
        if (!make()) {
            std::printf("skipped, the record path holding a %s: %s\n", name,
                        running_on_wine() ? "Wine 8 deletes what a Linux symbolic link leads to, "
                                            "even through FILE_FLAG_OPEN_REPARSE_POINT"
                                          : ("error " + std::to_string(GetLastError()) +
                                             " (a symbolic link needs developer mode or the "
                                             "privilege)")
                                                .c_str());
            continue;
        }
        Launcher launcher(root_ + "\\linked", sandboxed({"bin\\child.exe", "0"}, "norix-e2e"));
        EXPECT_EQ(launcher.wait(), 0U) << launcher.error();
        EXPECT_EQ(read_file(kept), "kept");
        EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(to_wide(kept_dir))));
        expect_nothing_left();
    }
}

} // namespace
