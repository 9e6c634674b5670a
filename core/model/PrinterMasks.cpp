#include "core/model/PrinterMasks.h"

#include <array>
#include <span>
#include <utility>

namespace velmora {

namespace {

using BitName = std::pair<int, std::string_view>;

constexpr std::array<BitName, 6> kTransportNames{{
    {kTransportEmf, "emf"},
    {kTransportBmp, "bmp"},
    {kTransportPs, "ps"},
    {kTransportJpg, "jpg"},
    {kTransportPng, "png"},
    {kTransportPdf, "pdf"},
}};

constexpr std::array<BitName, 3> kEncryptionNames{{
    {kEncryptionAes, "AES"},
    {kEncryptionAes0, "AES0"},
    {kEncryptionRsa, "RSA"},
}};

std::string namesFromMask(std::span<const BitName> table, int mask) {
    std::string names;
    for (const auto& [bit, name] : table) {
        if ((mask & bit) == 0)
            continue;
        if (!names.empty())
            names += ',';
        names += name;
    }
    return names;
}

int bitFromName(std::span<const BitName> table, std::string_view name, int fallback) {
    for (const auto& [bit, bitName] : table) {
        if (bitName == name)
            return bit;
    }
    return fallback;
}

int maskFromNames(std::span<const BitName> table, std::string_view names) {
    int mask = 0;
    while (!names.empty()) {
        size_t comma = names.find(',');
        mask |= bitFromName(table, names.substr(0, comma), 0);
        if (comma == std::string_view::npos)
            break;
        names.remove_prefix(comma + 1);
    }
    return mask;
}

}  // namespace

std::string transportNamesFromMask(int mask) {
    return namesFromMask(kTransportNames, mask);
}

std::string encryptionNamesFromMask(int mask) {
    return namesFromMask(kEncryptionNames, mask);
}

int transportFromName(std::string_view name, int fallback) {
    return bitFromName(kTransportNames, name, fallback);
}

int encryptionFromName(std::string_view name, int fallback) {
    return bitFromName(kEncryptionNames, name, fallback);
}

int transportMaskFromNames(std::string_view names) {
    return maskFromNames(kTransportNames, names);
}

int encryptionMaskFromNames(std::string_view names) {
    return maskFromNames(kEncryptionNames, names);
}

}  // namespace velmora
