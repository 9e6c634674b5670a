#include "console/app/controller/MainViewStateBuilder.h"

#include "console/jobs/LocalPrinterArray.h"
#include "console/remote/QueueNames.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/Translator.h"
#include "core/account/Person.h"
#include "core/model/RemotePrinterArray.h"

namespace velmora::console {

MainViewState MainViewStateBuilder::build(const Model& model, bool active,
                                          const RemoteList& shown) {
    MainViewState state;
    state.active = active;
    state.hasToken = !model.config.token().empty();
    if (active) {
        state.user = plainText(userText(model.currentUser));
        state.domain = plainText(hostOf(model.config.service()));
        state.freePages = model.config.freePages();
        if (model.currentUser.premium())
            state.account = MainViewState::Account::Premium;
        else if (state.freePages >= 0)
            state.account = MainViewState::Account::PageLimit;
        state.newJobs = model.newJobs > 0;
    }
    for (const LocalPrinter& printer : model.localPrinters.allPrinters())
        state.localPrinters.push_back(localRow(printer, model.translator));
    for (const auto& printer : shown)
        state.remotePrinters.push_back(
            remoteRow(*printer, model.currentUser, model.remotePrinters.defaultPrinterId()));
    return state;
}

MainViewStateBuilder::RemoteList MainViewStateBuilder::filterRemotePrinters(
    const RemotePrinterArray& remotePrinters, const LocalPrinterArray& localPrinters,
    bool hideMyPrinters) {
    RemoteList shown;
    for (const auto& printer : remotePrinters) {
        if (hideMyPrinters && localPrinters.getPrinter(printer->publicId()))
            continue;
        shown.push_back(printer);
    }
    return shown;
}

LocalPrinterRow MainViewStateBuilder::localRow(const LocalPrinter& printer,
                                               const Translator& translator) {
    LocalPrinterRow row;
    row.localTitle = printer.localTitle();
    row.publicId = printer.publicId();
    row.title = plainText(printer.localTitle());
    row.shared = printer.shared();
    row.status = statusText(printer.localStatus(), translator);
    return row;
}

RemotePrinterRow MainViewStateBuilder::remoteRow(const RemotePrinter& printer,
                                                 const Person& currentUser,
                                                 const std::string& defaultPrinterId) {
    RemotePrinterRow row;
    row.publicId = printer.publicId();
    row.title = plainText(printer.shareTitle());
    row.online = printer.online();
    row.owner = plainText(printer.owner().nick());
    if (currentUser.serverId() != 0 && printer.owner().serverId() == currentUser.serverId())
        row.owner += " (my)";
    row.isDefault = !defaultPrinterId.empty() && printer.publicId() == defaultPrinterId;
    return row;
}

std::string MainViewStateBuilder::statusText(uint16_t localStatus, const Translator& translator) {
    const char* key = "Error";
    switch (localStatus) {
        case 3:
            key = "Idle";
            break;
        case 4:
            key = "Processing";
            break;
        case 5:
            key = "Paused";
            break;
        default:
            break;
    }
    return plainText(translator.section("HTML", key, key));
}

std::string MainViewStateBuilder::userText(const Person& user) {
    if (!user.mail().empty())
        return user.mail();
    if (!user.nick().empty())
        return user.nick();
    return user.login();
}

std::string MainViewStateBuilder::hostOf(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme != std::string_view::npos)
        url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("/?#"));
    const size_t userInfo = url.rfind('@');
    if (userInfo != std::string_view::npos)
        url.remove_prefix(userInfo + 1);
    if (!url.empty() && url.front() == '[')
        return std::string(url.substr(0, url.find(']') + 1));
    return std::string(url.substr(0, url.find(':')));
}

std::string MainViewStateBuilder::plainText(std::string_view text) {
    return QueueNames::withoutControlCharacters(text);
}

}  // namespace velmora::console
