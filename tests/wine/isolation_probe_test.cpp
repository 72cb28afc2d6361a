// What a child in the AppContainer cannot reach, tried from inside it by the probe child
// (programs/probe_child.cpp) through the real exe, and two measurements: whether a later run's
// grant follows a link that a child left in the scratch directory, and whether a child can write
// into the console input it inherited. Only Windows can answer: Wine has no AppContainer, and its
// child runs unconfined.

// Winsock 2 comes before windows.h, which would bring in the older winsock.h.
#include <winsock2.h>

#include "launcher.hpp"

#include <gmock/gmock.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <iostream>

namespace {

using ::testing::HasSubstr;

std::string sddl(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPWSTR text = nullptr;
    if (GetNamedSecurityInfoW(to_wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS ||
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr) == FALSE) {
        LocalFree(descriptor);
        return "(unreadable: " + std::to_string(GetLastError()) + ")";
    }
    const std::string result = to_utf8(WideStringView(text));
    LocalFree(text);
    LocalFree(descriptor);
    return result;
}

class IsolationProbe : public SandboxTest {
protected:
    void SetUp() override {
        if (running_on_wine()) {
            GTEST_SKIP() << "Wine has no AppContainer: its child runs unconfined, so only Windows "
                            "shows what a sandboxed child cannot reach";
        }
        copy_program("probe_child.exe", probe_);
    }
    // What the probes left outside the fresh directory, after a failed assertion too: a file and
    // a value that the unconfined probes made; the links themselves, never what they name.
    void TearDown() override {
        undo();
        DeleteFileW(to_wide(secret_).c_str());
        for (const char* link : {"\\junction", "\\symlink"}) {
            RemoveDirectoryW(to_wide(scratch_ + link).c_str());
        }
    }
    void undo() const {
        DeleteFileW(to_wide(planted_).c_str());
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software", to_wide(unique_).c_str());
    }

    // The probe child's report on `probes`, each line after a line feed: after a run of the real
    // exe under `profile`, or, with none, started by this test outside any sandbox.
    std::string run(const std::vector<std::string>& probes, const std::string& profile,
                    bool in_own_console = false) const {
        std::vector<std::string> child{probe_, scratch_ + "\\report.txt"};
        child.insert(child.end(), probes.begin(), probes.end());
        Launcher launcher(root_ + "\\launcher", profile.empty() ? child : sandboxed(child, profile),
                          in_own_console);
        EXPECT_EQ(launcher.wait(), 0U) << launcher.error();
        return read_file(child[1]).insert(0, 1, '\n');
    }

    std::string probe_ = project_ + "\\probe.exe";
    std::string unique_ = "norix-probe-" + std::to_string(GetCurrentProcessId());
    std::string home_ = to_utf8(WideStringView(_wgetenv(L"USERPROFILE")));
    std::string secret_ = home_ + "\\" + unique_ + ".txt", planted_ = home_ + "\\" + unique_ + "-2";
};

// Each probe runs first unconfined, where it must succeed (so the probe works), then in the
// AppContainer, where it must be refused: a file in the user's profile outside the mounts is not
// read and not created, a listener on 127.0.0.1 gets no connection, HKCU\Software takes no value,
// the clipboard cannot be set.
TEST_F(IsolationProbe, ChildReachesNothingOutsideItsMounts) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{.sin_family = AF_INET};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const std::vector<std::string> probes{"read=" + secret_, "create=" + planted_,
                                          "connect=" + std::to_string(ntohs(address.sin_port)),
                                          "registry=" + unique_, "clipboard=" + unique_};
    std::ofstream(std::filesystem::path(to_wide(secret_))) << "secret";
    const std::string unconfined = run(probes, "");
    undo();
    const std::string sandboxed = run(probes, "norix-probe");
    closesocket(listener);
    std::cout << "unconfined:" << unconfined << "in the AppContainer:" << sandboxed;
    for (const std::string& probe : probes) {
        const std::string name = probe.substr(0, probe.find('=') + 1);
        EXPECT_THAT(unconfined, HasSubstr("\n" + name + "allowed\n"));
        EXPECT_THAT(sandboxed, HasSubstr("\n" + name + "refused "));
    }
    EXPECT_EQ(GetFileAttributesW(to_wide(planted_).c_str()), INVALID_FILE_ATTRIBUTES);
}

// A measurement: a child leaves a junction and a directory symbolic link in the scratch directory,
// each onto a directory outside both mounts (the test makes one that the child could not, where
// the system lets it). The next run, under a profile of its own, writes a new inheritable entry to
// the whole scratch tree; the directories outside keep their access lists.
TEST_F(IsolationProbe, GrantLeavesDirectoriesBehindLinksUnchanged) {
    std::vector<std::string> kinds{"junction", "symlink"}, probes, targets, before;
    for (const std::string& kind : kinds) {
        targets.push_back(make_directory("Outside-" + kind));
        probes.push_back(kind + "=" + scratch_ + "\\" + kind + "|" + targets.back());
    }
    const std::string inner = make_directory("Scratch\\inner");
    const std::string made = run(probes, "norix-probe");
    std::cout << "links made by the sandboxed child:" << made;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (made.find("\n" + kinds[i] + "=allowed") == std::string::npos) {
            const std::string instead = run({probes[i]}, "");
            std::cout << "made by the probe started by the test instead:" << instead;
            EXPECT_TRUE(instead == "\n" + kinds[i] + "=allowed\n" || kinds[i] == "symlink");
        }
        before.push_back(sddl(targets[i]));
    }
    const std::string inner_before = sddl(inner);
    run({}, "norix-probe-2");
    EXPECT_NE(sddl(inner), inner_before) << "the grant reached no directory of the scratch tree";
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        const std::string after = sddl(targets[i]);
        std::cout << "behind the " << kinds[i] << ", before the grant: " << before[i]
                  << "\n                   after the grant:  " << after << "\n";
        EXPECT_EQ(after, before[i]) << kinds[i];
    }
}

// A measurement: whether a child in the AppContainer can write key presses into the console input
// it shares with the launcher, and so with whatever else reads that console. Here the launcher has
// a hidden console of its own, which ends with it.
TEST_F(IsolationProbe, ChildWritingToItsInheritedConsoleInput) {
    const std::string report = run({"console-input=norix-probe"}, "norix-probe", true);
    std::cout << "a sandboxed child writing to the console input it inherited:" << report;
    EXPECT_THAT(report, ::testing::AnyOf(::testing::Eq("\nconsole-input=allowed\n"),
                                         ::testing::StartsWith("\nconsole-input=refused ")));
}

} // namespace
