// SPDX-License-Identifier: GPL-3.0-or-later
// Replays corpus files through the fuzz entry without libFuzzer: every
// regular file below each argument is fed once.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    size_t Count = 0;
    auto Feed = [&](const fs::path& P) {
        std::ifstream F(P, std::ios::binary);
        std::string Bytes((std::istreambuf_iterator<char>(F)), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size());
        ++Count;
    };
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (auto& E : fs::recursive_directory_iterator(argv[i]))
                if (E.is_regular_file()) Feed(E.path());
        } else {
            Feed(argv[i]);
        }
    }
    std::printf("%zu inputs replayed\n", Count);
    return Count > 0 ? 0 : 1;
}
