// Decodes one hour of 8000 Hz ADPCM (14.4 million samples from 7.2 MB) in
// the player's 1024-byte blocks and reports the factor over real time, beside
// "sox -t vox" decoding the same file to unsigned 8-bit in the same run.
// Best of the rounds.
//
// usage: vox_decode_bench [ROUNDS]
#include "viewer/model/VoxDecoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    constexpr double kSeconds = 3600;
    std::vector<uint8_t> vox(size_t(kSeconds * 8000 / 2));
    std::mt19937 rng(7);
    for (uint8_t& b : vox)
        b = uint8_t(rng());
    std::vector<uint8_t> out(2 * kVoxBlockSize);
    double best = 1e18;
    unsigned sink = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = Clock::now();
        VoxAdpcmDecoder decoder;
        for (size_t at = 0; at < vox.size(); at += kVoxBlockSize) {
            const size_t n = std::min(kVoxBlockSize, vox.size() - at);
            decoder.Decode(vox.data() + at, n, out.data());
            sink += out[0];
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::printf("1 hour of ADPCM: %.1f ms, %.0f x real time (%u)\n", best * 1000, kSeconds / best, sink & 1);

    if (std::system("command -v sox >/dev/null 2>&1") == 0) {
        char path[] = "/tmp/tarnel-vox-bench-XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0)
            return 1;
        ::close(fd);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(vox.data()), std::streamsize(vox.size()));
        const std::string command = std::string("sox -t vox -r 8000 ") + path + " -t raw -e unsigned -b 8 /dev/null";
        double soxBest = 1e18;
        for (int r = 0; r < rounds; ++r) {
            const auto t0 = Clock::now();
            if (std::system(command.c_str()) != 0)
                break;
            soxBest = std::min(soxBest, std::chrono::duration<double>(Clock::now() - t0).count());
        }
        std::printf("  sox -t vox     : %.1f ms, %.0f x real time\n", soxBest * 1000, kSeconds / soxBest);
        std::remove(path);
    }
    return 0;
}
