// A real grant on a real directory. Wine accepts the three ACL calls but stores no DACL, so the
// entry itself is read back only in the host build.
#include "common/resource.hpp"
#include "grants/grant.hpp"
#include "paths/path_forms.hpp"

#include <gtest/gtest.h>
#include <sddl.h>

namespace {

// Standard error redirected into a pipe while it lives.
class CapturedStderr {
public:
    CapturedStderr() {
        HANDLE read_end = nullptr;
        HANDLE write_end = nullptr;
        CreatePipe(&read_end, &write_end, nullptr, 1 << 16);
        reader_ = UniqueHandle(read_end);
        writer_ = UniqueHandle(write_end);
        previous_ = GetStdHandle(STD_ERROR_HANDLE);
        SetStdHandle(STD_ERROR_HANDLE, write_end);
    }
    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;
    ~CapturedStderr() { SetStdHandle(STD_ERROR_HANDLE, previous_); }

    std::string text() {
        SetStdHandle(STD_ERROR_HANDLE, previous_);
        writer_.reset();
        std::string captured;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(reader_.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
            captured.append(chunk, got);
        }
        return captured;
    }

private:
    UniqueHandle reader_;
    UniqueHandle writer_;
    HANDLE previous_ = nullptr;
};

} // namespace

TEST(WineGrant, GrantsATemporaryDirectoryWithItsFiveTraceLines) {
    WCHAR temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0U);
    const WideString directory =
        WideString(temp) + to_wide("norix-grant-" + std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    const auto canonical = canonical_path(directory);
    ASSERT_TRUE(canonical.has_value());

    PSID sid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(to_wide("S-1-15-2-1-2-3-4-5-6-7").c_str(), &sid));
    UniqueLocal<PSID> owned_sid(sid);
    const WideString trace = to_wide("NORIX_SANDBOX_TRACE");
    SetEnvironmentVariableW(trace.c_str(), to_wide("").c_str());

    CapturedStderr captured;
    const auto result = grant_mount_access(*canonical, sid);
    const std::string lines = captured.text();
    SetEnvironmentVariableW(trace.c_str(), nullptr);
    RemoveDirectoryW(directory.c_str());

    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(lines, "sandbox-stage=grant-mount path=" + to_utf8(*canonical) +
                         "\nsandbox-stage=acl-read\nsandbox-stage=acl-merge\n"
                         "sandbox-stage=acl-set\nsandbox-stage=acl-done\n");
}
