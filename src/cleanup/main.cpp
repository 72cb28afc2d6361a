// Process entry of norix-native-sandbox-cleanup.exe.
#include "cleanup/cleanup_process.hpp"

int main() {
    return run_cleanup_process(GetCommandLineW());
}
