// Process entry of norix-native-sandbox.exe.
#include "entry/process_entry.hpp"

#include <cstdlib>
#include <new>

int main() {
    // Out of memory the process ends at once, without unwinding through the run.
    std::set_new_handler([] { std::_Exit(FATAL_EXIT_STATUS); });
    return run_process(GetCommandLineW());
}
