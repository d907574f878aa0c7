// Extracts fuzzed archives with the extraction library into a scratch
// folder: no crash, no hang, and nothing written beside the folder.
// Seeds: fuzz/corpus/fuzz_unzip_extract/ (pass the folder after the options).
#include "platform/zipdll/ZipDllApi.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <fcntl.h>
#include <unistd.h>

extern "C" int32_t UnzDllExec(TUnzipParams* params);

namespace {

namespace fs = std::filesystem;

int32_t Quiet(TZipCallbackInfo*) { return ZIPDLL_FALSE; }

// scratch/ holds the archive and the folder extracted into; anything else
// appearing in scratch/ went outside that folder.
struct Scratch {
    std::string root;
    Scratch()
    {
        char tmpl[] = "/tmp/tarnel-fuzz-unzip-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directory(root + "/out");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Scratch scratch;
    const std::string archive = scratch.root + "/in.zip";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));

    char name[ZIPDLL_NAME_BUFFER] = {};
    std::strncpy(name, archive.c_str(), sizeof name - 1);
    char password[ZIPDLL_PASSWORD_BUFFER] = "pw";
    auto params = std::make_unique<TUnzipParams>();
    std::memset(params.get(), 0, sizeof(TUnzipParams));
    params->callback = &Quiet;
    params->password = password;
    params->keepDirNames = ZIPDLL_TRUE;
    params->overwrite = ZIPDLL_TRUE;
    params->archiveName = name;
    params->seven = 7;
    // Members land below the current directory; the fuzzer's own comes back
    // after, for it reads its corpus by relative names.
    const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || ::chdir((scratch.root + "/out").c_str()) != 0)
        std::abort();
    UnzDllExec(params.get());
    if (::fchdir(home) != 0)
        std::abort();
    ::close(home);

    for (const auto& e : fs::directory_iterator(scratch.root))
        if (e.path().filename() != "out" && e.path().filename() != "in.zip")
            std::abort(); // written outside the extraction folder
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(scratch.root + "/out"))
        fs::remove_all(e.path(), ec);
    return 0;
}
