#include "common/write_all.hpp"

std::size_t write_file_bytes(HANDLE file, std::string_view bytes) {
    return write_all(bytes.data(), bytes.size(), [&](const char* data, DWORD count, DWORD* done) {
        return WriteFile(file, data, count, done, nullptr) != FALSE; // not overlapped
    });
}

bool write_file_all(HANDLE file, std::string_view bytes) {
    return write_file_bytes(file, bytes) == bytes.size();
}
