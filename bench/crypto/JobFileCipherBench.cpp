// Times encryptJobFile and decryptJobFile on one large file against OpenSSL's EVP AES-256-CBC on
// the same bytes: once in memory (the cipher alone, one continuous CBC stream) and once doing the
// same file-to-file job with the same read/write pattern. Prints the best of several runs.

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/crypto/JobFileCipher.h"
#include "core/crypto/Rijndael.h"
#include "platform/UniqueFd.h"

namespace {

using velmora::kJobFileChunkSize;
using velmora::kJobFileInitVector;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr size_t kIoBuffer = 16 * kJobFileChunkSize;

Bytes randomBytes(size_t size) {
    Bytes bytes(size);
    uint64_t state = 0x9e3779b97f4a7c15ull;
    for (size_t i = 0; i + 8 <= size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bytes.data() + i, &state, 8);
    }
    return bytes;
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    velmora::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    size_t done = 0;
    while (fd && done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (done != bytes.size())
        throw std::runtime_error("cannot write " + path.string());
}

Bytes readFile(const fs::path& path) {
    Bytes bytes(fs::file_size(path));
    velmora::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    size_t done = 0;
    while (fd && done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (done != bytes.size())
        throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

using Ctx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

Ctx newContext(bool encrypt, const Bytes& key) {
    Ctx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(),
                                  kJobFileInitVector.data(), encrypt ? 1 : 0) != 1) {
        throw std::runtime_error("EVP init failed");
    }
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    return ctx;
}

// One continuous CBC stream over `in`, a whole number of blocks.
void opensslInMemory(bool encrypt, const Bytes& key, const Bytes& in, Bytes& out) {
    Ctx ctx = newContext(encrypt, key);
    int length = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &length, in.data(), static_cast<int>(in.size())) !=
        1) {
        throw std::runtime_error("EVP failed");
    }
}

// The same file-to-file job done with OpenSSL: the job file layout, 256 KiB reads and writes,
// the chain restarted for every chunk.
void opensslFileJob(bool encrypt, const Bytes& key, const fs::path& from, const fs::path& to) {
    Ctx ctx = newContext(encrypt, key);
    velmora::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    velmora::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const uint64_t size = fs::file_size(from);
    std::vector<uint8_t> buffer(kIoBuffer + 32);
    std::vector<uint8_t> result(kIoBuffer + 32);
    uint8_t pad = 16;
    if (encrypt) {
        pad = static_cast<uint8_t>(16 - size % 16);
        if (::write(out.get(), &pad, 1) != 1)
            throw std::runtime_error("write failed");
    } else if (::read(in.get(), &pad, 1) != 1) {
        throw std::runtime_error("read failed");
    }
    uint64_t remaining = encrypt ? size : size - 1;
    while (remaining > 0) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(remaining, kIoBuffer));
        if (::read(in.get(), buffer.data(), length) != static_cast<ssize_t>(length)) {
            throw std::runtime_error("read failed");
        }
        size_t produced = 0;
        for (size_t offset = 0; offset < length; offset += kJobFileChunkSize) {
            const size_t chunk = std::min(kJobFileChunkSize, length - offset);
            int n = 0;
            int last = 0;
            EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, kJobFileInitVector.data(), -1);
            EVP_CIPHER_CTX_set_padding(ctx.get(), chunk < kJobFileChunkSize ? 1 : 0);
            if (EVP_CipherUpdate(ctx.get(), result.data() + produced, &n, buffer.data() + offset,
                                 static_cast<int>(chunk)) != 1 ||
                EVP_CipherFinal_ex(ctx.get(), result.data() + produced + n, &last) != 1) {
                throw std::runtime_error("EVP failed");
            }
            produced += static_cast<size_t>(n + last);
        }
        remaining -= length;
        if (!encrypt && remaining == 0 && length % kJobFileChunkSize == 0 && pad < 16) {
            produced -= pad;  // full-size last chunk that still carries padding
        }
        if (::write(out.get(), result.data(), produced) != static_cast<ssize_t>(produced)) {
            throw std::runtime_error("write failed");
        }
    }
}

// The I/O of a job file run without the cipher: the same reads and writes, nothing else.
void copyFile(const fs::path& from, const fs::path& to) {
    velmora::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    velmora::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    std::vector<uint8_t> buffer(kIoBuffer);
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0)
            throw std::runtime_error("read failed");
        if (n == 0)
            break;
        if (::write(out.get(), buffer.data(), static_cast<size_t>(n)) != n) {
            throw std::runtime_error("write failed");
        }
    }
}

// Best and median wall time of each variant. The variants take turns, run after run, so that
// a change in the machine's load touches all of them alike.
struct Timing {
    double best;
    double median;
};

struct Variant {
    const char* name;
    std::function<void()> prepare;  // untimed, before each run
    std::function<void()> work;
    std::vector<double> seconds;

    Variant(const char* n, std::function<void()> p, std::function<void()> w)
        : name(n), prepare(std::move(p)), work(std::move(w)) {}

    Timing timing() const {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        return {sorted.front(), sorted[sorted.size() / 2]};
    }
};

void runInTurns(std::vector<Variant>& variants, int runs) {
    for (int i = 0; i < runs; ++i) {
        for (auto& v : variants) {
            v.prepare();
            const auto start = std::chrono::steady_clock::now();
            v.work();
            v.seconds.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
}

void report(const char* name, size_t bytes, Timing t) {
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("%-46s %8.1f MiB/s best  %8.1f MiB/s median\n", name, mib / t.best, mib / t.median);
}

void ratio(const char* name, Timing ours, Timing theirs) {
    std::printf("%-46s %6.2fx (best)  %6.2fx (median)\n", name, theirs.best / ours.best,
                theirs.median / ours.median);
}

void require(bool condition, const char* what) {
    if (!condition)
        throw std::runtime_error(what);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? argv[1] : "/tmp";
    const size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    const size_t size = mib * 1024 * 1024;

    const Bytes key = [] {
        Bytes k(32);
        for (size_t i = 0; i < k.size(); ++i)
            k[i] = static_cast<uint8_t>(i * 37 + 11);
        return k;
    }();
    const fs::path plainPath = folder / "velmora-bench.plain";
    const fs::path encPath = folder / "velmora-bench.enc";
    const fs::path copyPath = folder / "velmora-bench.copy";
    const fs::path sslEncPath = folder / "velmora-bench.ssl.enc";
    const fs::path oursEncPath = folder / "velmora-bench.ours.enc";
    const fs::path sslDecPath = folder / "velmora-bench.ssl.dec";
    const fs::path oursDecPath = folder / "velmora-bench.ours.dec";
    const Bytes plain = randomBytes(size);
    writeFile(plainPath, plain);
    // Every file run writes a new file, as the programs do.
    const auto removing = [](const fs::path& path) { return [path] { fs::remove(path); }; };

    std::printf("%zu MiB in %s, %d runs each, engine %s\n", mib, folder.c_str(), runs,
                velmora::Rijndael().engineName());
    std::string error;

    Bytes cipherText(size);
    Bytes scratch(size);
    Bytes decrypted(size);
    velmora::Rijndael encryptor;
    velmora::Rijndael decryptor;
    encryptor.initMode(1, 0, key, 2, kJobFileInitVector);
    decryptor.initMode(1, 1, key, 2, kJobFileInitVector);
    opensslFileJob(true, key, plainPath, encPath);
    const auto nothing = [] {};

    enum {
        kSslEncMem,
        kOursEncMem,
        kSslDecMem,
        kOursDecMem,
        kCopyFile,
        kSslEncFile,
        kOursEncFile,
        kSslDecFile,
        kOursDecFile
    };
    std::vector<Variant> v = {
        {"OpenSSL EVP CBC encrypt, in memory", nothing,
         [&] { opensslInMemory(true, key, plain, cipherText); }},
        {"Rijndael blockEncryptChunks, in memory", nothing,
         [&] { encryptor.blockEncryptChunks(plain, kJobFileChunkSize, scratch); }},
        {"OpenSSL EVP CBC decrypt, in memory", nothing,
         [&] { opensslInMemory(false, key, cipherText, decrypted); }},
        {"Rijndael blockDecryptInput, in memory", nothing,
         [&] {
             for (size_t offset = 0; offset < size; offset += kJobFileChunkSize) {
                 decryptor.blockDecryptInput({scratch.data() + offset, kJobFileChunkSize},
                                             {decrypted.data() + offset, kJobFileChunkSize});
             }
         }},
        {"plain copy, file to file (I/O alone)", removing(copyPath),
         [&] { copyFile(plainPath, copyPath); }},
        {"OpenSSL EVP CBC, job file encrypt, file to file", removing(sslEncPath),
         [&] { opensslFileJob(true, key, plainPath, sslEncPath); }},
        {"encryptJobFile", removing(oursEncPath),
         [&] {
             require(velmora::encryptJobFile(plainPath, oursEncPath, key, error), error.c_str());
         }},
        {"OpenSSL EVP CBC, job file decrypt, file to file", removing(sslDecPath),
         [&] { opensslFileJob(false, key, encPath, sslDecPath); }},
        {"decryptJobFile", removing(oursDecPath),
         [&] {
             require(velmora::decryptJobFile(encPath, oursDecPath, key, error), error.c_str());
         }},
    };
    // Touch every buffer once so that no run pays for first-use page faults.
    for (auto& variant : v)
        variant.work();
    require(decrypted == plain, "in-memory round trip");  // the last writer is blockDecryptInput

    runInTurns(v, runs);
    require(readFile(oursDecPath) == plain, "decryptJobFile result differs");
    require(readFile(sslDecPath) == plain, "OpenSSL file job result differs");
    require(readFile(oursEncPath) == readFile(sslEncPath), "encrypted files differ");

    for (const auto& variant : v)
        report(variant.name, size, variant.timing());
    std::printf("\nthroughput relative to OpenSSL (higher is better, target >= 0.90)\n");
    const auto t = [&](int i) { return v[i].timing(); };
    ratio("encryptJobFile vs OpenSSL in memory", t(kOursEncFile), t(kSslEncMem));
    ratio("encryptJobFile vs OpenSSL file to file", t(kOursEncFile), t(kSslEncFile));
    ratio("decryptJobFile vs OpenSSL in memory", t(kOursDecFile), t(kSslDecMem));
    ratio("decryptJobFile vs OpenSSL file to file", t(kOursDecFile), t(kSslDecFile));
    ratio("plain copy vs OpenSSL decrypt in memory", t(kCopyFile), t(kSslDecMem));
    ratio("cipher only, encrypt", t(kOursEncMem), t(kSslEncMem));
    ratio("cipher only, decrypt", t(kOursDecMem), t(kSslDecMem));

    std::vector<Variant> portable = {
        {"decryptJobFile, portable engine (1 run)", removing(oursDecPath), [&] {
             require(velmora::decryptJobFile(encPath, oursDecPath, key, error,
                                             velmora::Rijndael::Engine::portable),
                     error.c_str());
         }}};
    runInTurns(portable, 1);
    report(portable[0].name, size, portable[0].timing());

    for (const auto& path :
         {plainPath, encPath, copyPath, sslEncPath, oursEncPath, sslDecPath, oursDecPath}) {
        fs::remove(path);
    }
    return 0;
}
