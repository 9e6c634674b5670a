#pragma once

#include <sys/types.h>
#include <pugixml.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// One vocabulary over pugixml for every document the system reads or writes. A missing node,
// attribute or child reads as the empty string; XPath errors read as "nothing matched".

// Depth-first, pre-order search that starts with `node` itself.
pugi::xml_node findNodeOrChild(std::string_view name, pugi::xml_node node);
// The same search starting at the document's root element.
pugi::xml_node findNodeByName(const pugi::xml_document& document, std::string_view name);

// First result node in document order, relative to `context` (a document or an element).
pugi::xml_node selectSingleNode(pugi::xml_node context, const char* xpath);
std::vector<pugi::xml_node> selectNodes(pugi::xml_node context, const char* xpath);

// String value (all text below it) of the first node `xpath` selects; empty when none.
std::string childText(pugi::xml_node element, const char* xpath);

std::string getAttribute(pugi::xml_node element, const char* name);
void setAttribute(pugi::xml_node element, const char* name, std::string_view value);
void setAttribute(pugi::xml_node element, const char* name, int value);

pugi::xml_node appendElement(pugi::xml_node parent, const char* name);
pugi::xml_node appendElement(pugi::xml_node parent, const char* name, std::string_view text);
pugi::xml_node appendElement(pugi::xml_node parent, const char* name, int value);

// A boolean reads as true when its text begins with t, T, y, Y or a digit 1 to 9.
bool boolFromText(std::string_view text);
// Integers as read from documents: leading white space and sign accepted, trailing junk
// ignored, 0 when no digits; values outside int range saturate. Only for values that are shown
// or merely describe something; see strictIntFromText.
int intFromText(std::string_view text);
// Numbers that steer what is sent or stored (job ids, page numbers, copies): the whole text is
// an optional '-' and decimal digits within int range, or there is no number.
std::optional<int> strictIntFromText(std::string_view text);

// An upper bound of the nodes and attributes a parser builds from `text` (each element starts
// at a '<' that opens no end tag, each text node ends at a '<' or the end, each attribute needs
// a '='), counted before parsing so that a document of empty elements cannot multiply its size
// in memory.
size_t xmlNodeCountBound(std::string_view text);

// Whether the text refers to character 0 ("&#0;", "&#x00;"): the parser stores it as a NUL that
// ends the value early, so "12&#0;abc" would read as "12".
bool holdsNulCharacterReference(std::string_view text);

// More than any document of this system holds.
inline constexpr size_t kMaxXmlNodes = 1'000'000;

// Parses XML text; false with a reason when it is not well-formed or could hold more than
// `maxNodes` nodes and attributes (xmlNodeCountBound), or refers to character 0.
bool parseXml(pugi::xml_document& document, std::string_view text, std::string& error,
              size_t maxNodes = kMaxXmlNodes);
// Pretty-printed serialisation (tab indentation, with declaration).
std::string xmlToString(const pugi::xml_document& document);
// Pretty-printed write through a temporary file in the same folder, fsync and rename.
bool writeXmlFileAtomically(const pugi::xml_document& document, const std::filesystem::path& path,
                            std::string& error, unsigned mode = 0644);
// Writes any bytes through a temporary file in the same folder, fsync and rename.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error, unsigned mode = 0644);

// Account and group a new file is given; -1 keeps the writer's.
struct FileOwner {
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};
// The same, the file handed to `owner` before it takes the final name (needs root).
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error, unsigned mode, FileOwner owner);

// RFC 4648 Base64 decoding with the lenient rules the service's key texts need: white space and
// '=' are skipped anywhere; any other character outside the alphabet, non-ASCII text or a lone
// trailing character gives nullopt.
std::optional<std::vector<uint8_t>> dataWithBase64EncodedString(std::string_view text);

// Removes a directory holding only files. True when the path does not exist; false, with
// nothing removed, when any entry is itself a directory.
bool removeFlatDirectory(const std::filesystem::path& directory);

}  // namespace velmora
