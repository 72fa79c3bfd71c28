// SPDX-License-Identifier: GPL-3.0-or-later
// Replays corpus files through the fuzz entry without libFuzzer: every
// regular file below each argument is fed once. With "--mutations N" it then
// feeds N inputs made from the corpus by random edits (bit flips, bytes
// replaced, inserted or removed, pieces of two files joined), from a fixed
// seed so that a failure comes back on every run: a short fuzz run in every
// build, where the entries' own checks are the oracle.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace {

// xorshift64*: small, and the same sequence on every machine.
struct TRandom {
    uint64_t State = 0x9E3779B97F4A7C15ull;
    uint64_t Next() {
        State ^= State >> 12;
        State ^= State << 25;
        State ^= State >> 27;
        return State * 0x2545F4914F6CDD1Dull;
    }
    size_t Below(size_t N) { return N == 0 ? 0 : size_t(Next() % N); }
};

// Bytes the decoders give meaning to, so that edits reach their branches.
const uint8_t Interesting[] = {0,   2,   10,   13,  23,  26,  '$', ',',  '.',  '-',  '=',  '[',
                               ']', '"', '\\', 'B', '1', 'F', 'D', 0x7F, 0xC3, 0xFF, 0xFA, 0xF0};

// The input being fed, written out in hexadecimal when an entry's check
// aborts, so that it can become a corpus file.
const std::string* GCurrent = nullptr;

void ShowCurrent(int Signal) {
    static const char Hex[] = "0123456789abcdef";
    if (GCurrent) {
        const char Head[] = "\nfailing input (hex): ";
        [[maybe_unused]] ssize_t W = write(2, Head, sizeof Head - 1);
        for (const char C : *GCurrent) {
            const char Pair[2] = {Hex[uint8_t(C) >> 4], Hex[uint8_t(C) & 15]};
            W = write(2, Pair, 2);
        }
        W = write(2, "\n", 1);
    }
    std::signal(Signal, SIG_DFL);
    std::raise(Signal);
}

std::string Mutate(const std::vector<std::string>& Corpus, TRandom& R) {
    std::string S = Corpus[R.Below(Corpus.size())];
    const size_t Edits = 1 + R.Below(8);
    for (size_t k = 0; k < Edits; ++k) {
        const size_t At = R.Below(S.size() + 1);
        switch (R.Below(6)) {
        case 0:
            if (At < S.size()) S[At] = char(S[At] ^ (1 << R.Below(8)));
            break;
        case 1:
            if (At < S.size()) S[At] = char(Interesting[R.Below(sizeof Interesting)]);
            break;
        case 2:
            S.insert(At, 1, char(R.Next()));
            break;
        case 3:
            if (At < S.size()) S.erase(At, 1 + R.Below(8));
            break;
        case 4:
            S.insert(At, 1, char(Interesting[R.Below(sizeof Interesting)]));
            break;
        case 5: {
            const std::string& O = Corpus[R.Below(Corpus.size())];
            const size_t From = R.Below(O.size() + 1);
            S.insert(At, O, From, R.Below(O.size() - From + 1));
            break;
        }
        }
        if (S.size() > 64 * 1024) S.resize(64 * 1024);
    }
    return S;
}

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<std::string> Corpus;
    long Mutations = 0;
    auto Feed = [&](const fs::path& P) {
        std::ifstream F(P, std::ios::binary);
        std::string Bytes((std::istreambuf_iterator<char>(F)), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size());
        Corpus.push_back(std::move(Bytes));
    };
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--mutations" && i + 1 < argc) {
            Mutations = std::atol(argv[++i]);
        } else if (fs::is_directory(argv[i])) {
            for (auto& E : fs::recursive_directory_iterator(argv[i]))
                if (E.is_regular_file()) Feed(E.path());
        } else {
            Feed(argv[i]);
        }
    }
    std::printf("%zu inputs replayed\n", Corpus.size());
    if (Corpus.empty()) return 1;
    TRandom R;
    std::signal(SIGABRT, ShowCurrent);
    std::signal(SIGSEGV, ShowCurrent);
    for (long k = 0; k < Mutations; ++k) {
        const std::string S = Mutate(Corpus, R);
        GCurrent = &S;
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(S.data()), S.size());
    }
    if (Mutations > 0) std::printf("%ld mutated inputs fed\n", Mutations);
    return 0;
}
