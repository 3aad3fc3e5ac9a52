#pragma once

// The fuzz input as a file: readers take a path, so each input is written to
// one file per process (named after the target, removed at exit).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzzinput {

struct TempFile {
    std::string path;
    ~TempFile() { std::remove(path.c_str()); }
};

// Writes the bytes to /tmp/<target>.<pid><ext> and answers the path.
inline const std::string& write(const char* target, const char* ext, const std::uint8_t* data,
                                std::size_t size) {
    static const TempFile file{"/tmp/" + std::string(target) + "." + std::to_string(getpid()) +
                               ext};
    if (std::FILE* f = std::fopen(file.path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return file.path;
}

}  // namespace fuzzinput
