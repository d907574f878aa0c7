// Fills the installed-software list from a dpkg status file of a desktop
// machine (3,000 installed packages, made from this machine's own status file
// by repeating its paragraphs under new names) and compares it with
// "dpkg-query -W" reading the same file, measured in the same run.
//
// usage: dpkg_status_bench [WORKDIR] [ROUNDS]
#include "tools/model/InstalledSoftware.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPackages = 3000;

std::string Generate(const std::string& dir)
{
    std::filesystem::create_directories(dir + "/updates");
    std::ifstream in(kDpkgStatusFile);
    std::stringstream source;
    source << in.rdbuf();
    std::string text = source.str();
    if (text.empty())
        text = "Package: sample\nStatus: install ok installed\nVersion: 1.0\nDescription: a sample\n long text\n";
    std::vector<std::string> paragraphs;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\n\n", at);
        end = end == std::string::npos ? text.size() : end + 2;
        if (text.compare(at, 8, "Package:") == 0)
            paragraphs.push_back(text.substr(at, end - at));
        at = end;
    }
    std::ofstream out(dir + "/status");
    for (int i = 0; i < kPackages; ++i) {
        std::string p = paragraphs[size_t(i) % paragraphs.size()];
        const size_t eol = p.find('\n');
        p.replace(0, eol, "Package: pkg" + std::to_string(i) + "-" + p.substr(9, eol - 9));
        const size_t status = p.find("\nStatus: ");
        if (status != std::string::npos)
            p.replace(status, p.find('\n', status + 1) - status, "\nStatus: install ok installed");
        out << p << (p.size() >= 2 && p.substr(p.size() - 2) == "\n\n" ? "" : "\n\n");
    }
    return dir + "/status";
}

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : "/tmp/tarnel-dpkg-bench";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string status = Generate(dir);

    double ours = 1e9, peer = 1e9;
    size_t listed = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        listed = ReadInstalledSoftware(nullptr, status).names.size();
        ours = std::min(ours, Millis(Clock::now() - start));

        const std::string command = "dpkg-query --admindir=" + dir + " -W >/dev/null 2>&1";
        const auto peerStart = Clock::now();
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "dpkg-query failed\n");
        peer = std::min(peer, Millis(Clock::now() - peerStart));
    }
    std::printf("installed-software list: %zu entries from %d packages, best of %d: %.1f ms (target 300 ms)\n", listed,
                kPackages, rounds, ours);
    std::printf("dpkg-query -W on the same status file: %.1f ms\n", peer);
    return ours <= 300 ? 0 : 1;
}
