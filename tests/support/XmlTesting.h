#pragma once

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <sstream>
#include <string>
#include <string_view>

#include "core/xml/XmlHelpers.h"

namespace velmora::test {

// Parses text that the test itself wrote; a parse error fails the test.
inline pugi::xml_document parsedXml(std::string_view text) {
    pugi::xml_document document;
    std::string error;
    EXPECT_TRUE(parseXml(document, text, error)) << error;
    return document;
}

// A node as the service would see it on the wire: no indentation, no declaration.
inline std::string rawXml(pugi::xml_node node) {
    std::ostringstream out;
    node.print(out, "", pugi::format_raw);
    return out.str();
}

}  // namespace velmora::test
