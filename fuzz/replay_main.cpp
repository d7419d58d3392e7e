// Replays corpora through a harness without libFuzzer, so that every build
// (GCC natively, under the sanitizers, and on AArch64 under qemu) runs the
// seed inputs and the inputs of every crash found as an ordinary test.
// Arguments: files, or directories whose regular files are all replayed (in
// name order).  Fails when no input was found.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path p(argv[i]);
        if (!fs::is_directory(p)) {
            files.push_back(p);
            continue;
        }
        std::vector<fs::path> in_dir;
        for (const fs::directory_entry &e : fs::directory_iterator(p))
            if (e.is_regular_file()) in_dir.push_back(e.path());
        std::sort(in_dir.begin(), in_dir.end());
        files.insert(files.end(), in_dir.begin(), in_dir.end());
    }
    for (const fs::path &f : files) {
        std::ifstream s(f, std::ios::binary);
        if (!s) {
            std::fprintf(stderr, "replay: cannot read %s\n", f.c_str());
            return 1;
        }
        const std::vector<char> bytes((std::istreambuf_iterator<char>(s)),
                                      std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    std::printf("replay: %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
