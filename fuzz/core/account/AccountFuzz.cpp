// The person and permission readers on arbitrary XML, as a service reply might carry it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/xml/XmlHelpers.h"

namespace {

// Blanks and carriage returns in a property survive the trip through the written element.
constexpr unsigned kExactFlags =
    (pugi::parse_default & ~pugi::parse_eol) | pugi::parse_ws_pcdata_single;

void checkPersonRoundTrip(pugi::xml_node element) {
    velmora::Person read;
    read.parse(element);
    pugi::xml_document written;
    read.getXml(written, "client", true);
    std::string text = velmora::xmlToString(written);
    pugi::xml_document reread;
    if (!reread.load_buffer(text.data(), text.size(), kExactFlags, pugi::encoding_utf8))
        std::abort();
    velmora::Person again;
    again.parse(reread.document_element());
    again.setPremium(read.premium());  // never written
    if (!(again == read))
        std::abort();
}

void checkPermissions(pugi::xml_node response) {
    velmora::PermissionArray permissions;
    permissions.parse(response);
    size_t withClient = 0;
    for (pugi::xml_node rule : response.children("rule")) {
        if (rule.child("client"))
            ++withClient;
    }
    if (permissions.count() != withClient + 1 || permissions.objectAtIndex(0).person())
        std::abort();
    for (size_t i = 0; i < permissions.count(); ++i) {
        const velmora::Permission& permission = permissions.objectAtIndex(i);
        if (permission.value() < 0 || permission.value() > 2 || (i > 0 && !permission.person()))
            std::abort();
        if (permission.person()) {
            int found = permissions.getPermissionFor(permission.person()->serverId());
            if (found < 0 || found > 2)
                std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    pugi::xml_document document;
    std::string error;
    if (!velmora::parseXml(document, text, error))
        return 0;
    pugi::xml_node root = document.document_element();
    checkPersonRoundTrip(root);
    if (pugi::xml_node user = velmora::findNodeByName(document, "user"))
        checkPersonRoundTrip(user);
    pugi::xml_node response = velmora::findNodeByName(document, "response");
    checkPermissions(response ? response : root);
    return 0;
}
