#include "console/remote/QueueHelperRequest.h"

#include "console/remote/QueueNames.h"

namespace velmora::console {

namespace {

using Kind = QueueOperation::Kind;

std::optional<Kind> kindNamed(const std::string& name) {
    for (Kind kind : {Kind::Add, Kind::Rename, Kind::SwitchPpd, Kind::Remove}) {
        if (name == QueueOperation::kindName(kind))
            return kind;
    }
    return std::nullopt;
}

size_t argumentCount(Kind kind) {
    switch (kind) {
        case Kind::Add:
            return 4;
        case Kind::Rename:
        case Kind::SwitchPpd:
            return 3;
        case Kind::Remove:
            return 2;
    }
    return 0;
}

bool isCleanDescription(const std::string& text) {
    const std::string_view suffix = QueueNames::kDescriptionSuffix;
    return text.size() <= QueueNames::kMaxDescriptionBytes && text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           QueueNames::withoutControlCharacters(text) == text;
}

std::optional<bool> duplexNamed(const std::string& name) {
    if (name == "duplex")
        return true;
    if (name == "plain")
        return false;
    return std::nullopt;
}

}  // namespace

std::optional<QueueOperation> QueueHelperRequest::parse(std::span<const std::string> arguments,
                                                        std::string& error) {
    const auto kind = arguments.empty() ? std::nullopt : kindNamed(arguments[0]);
    if (!kind) {
        error = "Unknown request";
        return std::nullopt;
    }
    if (arguments.size() != argumentCount(*kind)) {
        error = "Wrong number of arguments";
        return std::nullopt;
    }
    QueueOperation operation;
    operation.kind = *kind;
    operation.queue = arguments[1];
    if (!QueueNames::hasOurForm(operation.queue)) {
        error = "Not a queue name of ours";
        return std::nullopt;
    }
    if (*kind == Kind::Add || *kind == Kind::SwitchPpd) {
        const auto duplex = duplexNamed(arguments[2]);
        if (!duplex) {
            error = "Unknown PPD kind";
            return std::nullopt;
        }
        operation.duplex = *duplex;
    }
    if (*kind == Kind::Add || *kind == Kind::Rename) {
        operation.description = arguments.back();
        if (!isCleanDescription(operation.description)) {
            error = "Unacceptable description";
            return std::nullopt;
        }
    }
    return operation;
}

std::vector<std::string> QueueHelperRequest::arguments(const QueueOperation& operation) {
    std::vector<std::string> arguments = {QueueOperation::kindName(operation.kind),
                                          operation.queue};
    if (operation.kind == Kind::Add || operation.kind == Kind::SwitchPpd)
        arguments.push_back(operation.duplex ? "duplex" : "plain");
    if (operation.kind == Kind::Add || operation.kind == Kind::Rename)
        arguments.push_back(operation.description);
    return arguments;
}

}  // namespace velmora::console
