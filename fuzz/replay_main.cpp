// Replays fuzz inputs through a target's LLVMFuzzerTestOneInput without libFuzzer, so that the
// seed corpus (and any crash input kept in it) runs in every build, under the sanitizers when the
// build has them. Arguments: files or folders (every regular file in them, in name order). An
// invariant broken aborts the program; no input at all is an error too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path p = argv[i];
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            for (const auto& e : fs::directory_iterator(p, ec))
                if (e.is_regular_file()) inputs.push_back(e.path());
        } else if (fs::is_regular_file(p, ec)) {
            inputs.push_back(p);
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs (usage: %s FILE-OR-FOLDER...)\n", argc > 0 ? argv[0] : "replay");
        return 2;
    }
    size_t bytes = 0;
    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<uint8_t> data(raw.begin(), raw.end());
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", p.filename().c_str(), data.size());
        // A copy of exactly the input's size, so that a read past its end is caught by ASan.
        auto* exact = new uint8_t[data.size() ? data.size() : 1];
        std::copy(data.begin(), data.end(), exact);
        LLVMFuzzerTestOneInput(exact, data.size());
        delete[] exact;
        bytes += data.size();
    }
    std::printf("replay: %zu inputs (%zu bytes) ran clean\n", inputs.size(), bytes);
    return 0;
}
