// Feeds arbitrary bytes to decryptJobFile as an encrypted page file. Whatever it accepts must be
// exactly what encrypting the decrypted bytes gives back, on both cipher engines; whatever it
// rejects must leave no output behind.

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/crypto/JobFileCipher.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The seed corpus was made with this key: the bytes 0, 1, ..., 31.
Bytes fuzzKey() {
    Bytes key(32);
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<uint8_t>(i);
    return key;
}

fs::path scratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "velmora-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        abort();
    static fs::path folder;
    folder = pattern;
    ::atexit([] {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    });
    return folder;
}

void writeFile(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        abort();
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        abort();
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "decrypt_job_file_fuzzer: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path folder = scratchFolder();
    static const Bytes key = fuzzKey();
    const fs::path input = folder / "page.enc";
    const fs::path output = folder / "page";
    const fs::path portableOutput = folder / "page.portable";
    const fs::path again = folder / "again.enc";
    for (const auto& path : {output, portableOutput, again})
        fs::remove(path);
    writeFile(input, data, size);

    std::string error;
    const bool ok = velmora::decryptJobFile(input, output, key, error);
    std::string portableError;
    const bool portableOk = velmora::decryptJobFile(input, portableOutput, key, portableError,
                                                    velmora::Rijndael::Engine::portable);
    check(ok == portableOk, "the engines disagree on success");
    if (!ok) {
        check(!error.empty(), "failure without a reason");
        check(!fs::exists(output) && !fs::exists(portableOutput), "output left after failure");
        return 0;
    }
    const Bytes plain = readFile(output);
    check(plain == readFile(portableOutput), "the engines decrypt differently");
    check(velmora::encryptJobFile(output, again, key, error), "decrypted bytes do not encrypt");
    check(readFile(again) == Bytes(data, data + size), "accepted file is not a fresh encryption");
    return 0;
}
