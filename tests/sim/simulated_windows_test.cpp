// The simulated Windows itself, where no behaviour of the system shows it.
#include "sim_fixture.hpp"

namespace {

// An input that the simulated Windows does not model stops the test with the call and the input,
// where an error code would pass for a refusal of Windows.
TEST_F(SimulatedWindows, StopsAtAnInputItDoesNotModel) {
    WideString line = to_wide("tool.exe");
    STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW)};
    PROCESS_INFORMATION created{};
    EXPECT_DEATH(CreateProcessW(to_wide("C:\\tool.exe").c_str(), line.data(), nullptr, nullptr,
                                FALSE, 0, nullptr, nullptr, &startup, &created),
                 "^simulated Windows does not model CreateProcessW with an application name: "
                 "C:.tool.exe\n$");
}

} // namespace
