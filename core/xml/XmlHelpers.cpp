#include "XmlHelpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <sstream>
#include <system_error>

#include "platform/FileIo.h"
#include "platform/UniqueFd.h"

namespace velmora {

namespace {

// pugixml reports XPath errors by exception unless told otherwise at build time; either way the
// callers want "nothing matched".
pugi::xpath_node_set evaluate(pugi::xml_node context, const char* xpath) {
    if (!context || xpath == nullptr)
        return {};
    try {
        pugi::xpath_query query(xpath);
        if (!query)
            return {};
        return query.evaluate_node_set(context);
    } catch (const pugi::xpath_exception&) {
        return {};
    }
}

pugi::xml_node asNode(const pugi::xpath_node& hit) {
    if (hit.node())
        return hit.node();
    return {};
}

// The node after `node` in a pre-order walk of the subtree of `root`; empty at the end. Walking
// without recursion keeps deeply nested input from exhausting the stack.
pugi::xml_node nextInSubtree(pugi::xml_node node, pugi::xml_node root) {
    if (pugi::xml_node child = node.first_child())
        return child;
    while (node && node != root) {
        if (pugi::xml_node sibling = node.next_sibling())
            return sibling;
        node = node.parent();
    }
    return {};
}

bool isText(pugi::xml_node node) {
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

std::string stringValue(pugi::xml_node node) {
    if (isText(node))
        return node.value();
    std::string text;
    for (pugi::xml_node below = nextInSubtree(node, node); below;
         below = nextInSubtree(below, node)) {
        if (isText(below))
            text += below.value();
    }
    return text;
}

}  // namespace

pugi::xml_node findNodeOrChild(std::string_view name, pugi::xml_node node) {
    for (pugi::xml_node candidate = node; candidate; candidate = nextInSubtree(candidate, node)) {
        if (candidate.type() == pugi::node_element && name == candidate.name())
            return candidate;
    }
    return {};
}

pugi::xml_node findNodeByName(const pugi::xml_document& document, std::string_view name) {
    return findNodeOrChild(name, document.document_element());
}

pugi::xml_node selectSingleNode(pugi::xml_node context, const char* xpath) {
    pugi::xpath_node_set hits = evaluate(context, xpath);
    if (hits.empty())
        return {};
    hits.sort();
    return asNode(hits.first());
}

std::vector<pugi::xml_node> selectNodes(pugi::xml_node context, const char* xpath) {
    pugi::xpath_node_set hits = evaluate(context, xpath);
    hits.sort();
    std::vector<pugi::xml_node> nodes;
    nodes.reserve(hits.size());
    for (const pugi::xpath_node& hit : hits) {
        if (pugi::xml_node node = asNode(hit))
            nodes.push_back(node);
    }
    return nodes;
}

std::string childText(pugi::xml_node element, const char* xpath) {
    pugi::xpath_node_set hits = evaluate(element, xpath);
    if (hits.empty())
        return {};
    hits.sort();
    const pugi::xpath_node& first = hits.first();
    if (first.attribute())
        return first.attribute().value();
    return stringValue(first.node());
}

std::string getAttribute(pugi::xml_node element, const char* name) {
    return element.attribute(name).value();
}

void setAttribute(pugi::xml_node element, const char* name, std::string_view value) {
    pugi::xml_attribute attribute = element.attribute(name);
    if (!attribute)
        attribute = element.append_attribute(name);
    attribute.set_value(std::string(value).c_str());
}

void setAttribute(pugi::xml_node element, const char* name, int value) {
    setAttribute(element, name, std::to_string(value));
}

pugi::xml_node appendElement(pugi::xml_node parent, const char* name) {
    return parent.append_child(name);
}

pugi::xml_node appendElement(pugi::xml_node parent, const char* name, std::string_view text) {
    pugi::xml_node element = parent.append_child(name);
    if (!text.empty())
        element.append_child(pugi::node_pcdata).set_value(std::string(text).c_str());
    return element;
}

pugi::xml_node appendElement(pugi::xml_node parent, const char* name, int value) {
    return appendElement(parent, name, std::to_string(value));
}

bool boolFromText(std::string_view text) {
    if (text.empty())
        return false;
    char first = text.front();
    return first == 't' || first == 'T' || first == 'y' || first == 'Y' ||
           (first >= '1' && first <= '9');
}

int intFromText(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

std::optional<int> strictIntFromText(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (text.empty() || failure != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

size_t xmlNodeCountBound(std::string_view text) {
    size_t markup = 0;
    size_t endTags = 0;
    size_t equalSigns = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<') {
            ++markup;
            if (i + 1 < text.size() && text[i + 1] == '/')
                ++endTags;
        } else if (text[i] == '=') {
            ++equalSigns;
        }
    }
    // Elements start at markup that is no end tag; a text node sits before any markup or the end.
    return (markup - endTags) + (markup + 1) + equalSigns;
}

bool holdsNulCharacterReference(std::string_view text) {
    for (size_t at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", at + 2)) {
        size_t i = at + 2;
        if (i < text.size() && text[i] == 'x')
            ++i;
        const size_t digits = i;
        while (i < text.size() && text[i] == '0')
            ++i;
        if (i > digits && (i == text.size() || text[i] == ';'))
            return true;
    }
    return false;
}

bool parseXml(pugi::xml_document& document, std::string_view text, std::string& error,
              size_t maxNodes) {
    if (xmlNodeCountBound(text) > maxNodes) {
        error = "XML holds too many elements";
        document.reset();
        return false;
    }
    if (holdsNulCharacterReference(text)) {
        error = "XML refers to character 0";
        document.reset();
        return false;
    }
    pugi::xml_parse_result result = document.load_buffer(
        text.data(), text.size(), pugi::parse_default | pugi::parse_declaration);
    if (!result) {
        error = std::string("XML is not well-formed: ") + result.description() + " at offset " +
                std::to_string(result.offset);
        document.reset();
        return false;
    }
    if (!document.document_element()) {
        error = "XML has no root element";
        return false;
    }
    return true;
}

std::string xmlToString(const pugi::xml_document& document) {
    std::ostringstream out;
    document.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

bool writeXmlFileAtomically(const pugi::xml_document& document, const std::filesystem::path& path,
                            std::string& error, unsigned mode) {
    return writeFileAtomically(path, xmlToString(document), error, mode);
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error, unsigned mode) {
    return writeFileAtomically(path, bytes, error, mode, FileOwner{});
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error, unsigned mode, FileOwner owner) {
    std::string temporary = path.string() + ".XXXXXX";
    UniqueFd fd(::mkstemp(temporary.data()));
    if (fd.get() < 0) {
        error = "Cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    auto fail = [&](const char* what) {
        error = std::string(what) + " " + temporary + ": " + std::strerror(errno);
        fd.close();
        ::unlink(temporary.c_str());
        return false;
    };
    if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0)
        return fail("Cannot set mode of");
    const bool keepOwner =
        owner.uid == static_cast<uid_t>(-1) && owner.gid == static_cast<gid_t>(-1);
    if (!keepOwner && ::fchown(fd.get(), owner.uid, owner.gid) != 0)
        return fail("Cannot hand over");
    if (!writeFully(fd.get(), bytes.data(), bytes.size()))
        return fail("Cannot write");
    if (::fsync(fd.get()) != 0)
        return fail("Cannot sync");
    if (!fd.close())
        return fail("Cannot close");
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "Cannot replace " + path.string() + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> dataWithBase64EncodedString(std::string_view text) {
    static constexpr uint8_t kInvalid = 127;
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> values{};
        values.fill(kInvalid);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (uint8_t i = 0; i < 64; ++i)
            values[static_cast<uint8_t>(alphabet[i])] = i;
        return values;
    }();

    std::vector<uint8_t> out;
    out.reserve((text.size() + 3) / 4 * 3);
    uint32_t group = 0;
    int count = 0;
    for (char c : text) {
        auto byte = static_cast<uint8_t>(c);
        if (byte >= 0x80)
            return std::nullopt;
        if (c == '=' || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r')
            continue;
        uint8_t value = table[byte];
        if (value == kInvalid)
            return std::nullopt;
        group = (group << 6) | value;
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(group >> 16));
            out.push_back(static_cast<uint8_t>(group >> 8));
            out.push_back(static_cast<uint8_t>(group));
            group = 0;
            count = 0;
        }
    }
    if (count == 1)
        return std::nullopt;
    if (count == 2)
        out.push_back(static_cast<uint8_t>(group >> 4));
    if (count == 3) {
        out.push_back(static_cast<uint8_t>(group >> 10));
        out.push_back(static_cast<uint8_t>(group >> 2));
    }
    return out;
}

bool removeFlatDirectory(const std::filesystem::path& directory) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(directory, ec)))
        return true;
    fs::directory_iterator it(directory, ec);
    if (ec)
        return false;
    for (const fs::directory_entry& entry : it) {
        std::error_code statError;
        if (fs::is_directory(directory / entry.path().filename(), statError))
            return false;
    }
    fs::remove_all(directory, ec);
    return !ec;
}

}  // namespace velmora
