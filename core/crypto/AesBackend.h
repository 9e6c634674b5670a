#pragma once

// The block cipher engines behind Rijndael. Round keys are handed over as bytes, 16 per round
// key and (rounds + 1) of them: the FIPS 197 key schedule for encryption, and for decryption the
// schedule of the equivalent inverse cipher in the order of use. Every operation may work in
// place (out == in) but the buffers must not overlap otherwise.

#include <cstddef>
#include <cstdint>

namespace velmora::aes {

struct Backend {
    const char* name;
    void (*encryptBlocks)(const uint8_t* roundKeys, int rounds, const uint8_t* in, uint8_t* out,
                          size_t blocks);
    void (*decryptBlocks)(const uint8_t* roundKeys, int rounds, const uint8_t* in, uint8_t* out,
                          size_t blocks);
    void (*cbcEncrypt)(const uint8_t* roundKeys, int rounds, const uint8_t* iv, const uint8_t* in,
                       uint8_t* out, size_t blocks);
    void (*cbcDecrypt)(const uint8_t* roundKeys, int rounds, const uint8_t* iv, const uint8_t* in,
                       uint8_t* out, size_t blocks);
    // CBC-encrypts `chunks` consecutive pieces of `chunkBlocks` blocks each, every piece started
    // afresh from `iv`; the pieces are independent, so a backend may interleave them.
    void (*cbcEncryptChunks)(const uint8_t* roundKeys, int rounds, const uint8_t* iv,
                             const uint8_t* in, uint8_t* out, size_t chunkBlocks, size_t chunks);
};

// Lookup-table engine that runs everywhere.
const Backend& portableBackend();

// Engine using the processor's AES instructions, or null when the processor has none.
const Backend* hardwareBackend();

}  // namespace velmora::aes
