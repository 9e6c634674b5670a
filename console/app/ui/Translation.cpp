#include "console/app/ui/Translation.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <sys/stat.h>
#include <unistd.h>

#include <system_error>
#include <vector>

#include "console/service/ConsoleConfig.h"
#include "core/Deployment.h"
#include "core/config/TextFile.h"
#include "core/xml/XmlHelpers.h"
#include "platform/Logger.h"

namespace velmora::console {

namespace {

const Logger& logger() {
    static const Logger log(std::string(deployment::kLogSubsystem), "translation");
    return log;
}

bool hasTranslationFileName(const std::string& name) {
    static constexpr std::string_view kExtension = ".xml";
    return name.size() >= kExtension.size() && name.ends_with(kExtension);
}

// Any user may write into the shared folder, so only a file installed by the administrator or
// this user, that no one else can rewrite, speaks for this console.
bool isTrustedTranslation(const struct stat& info, std::string& reason) {
    if ((info.st_uid != 0 && info.st_uid != ::geteuid()) || (info.st_mode & 022) != 0) {
        reason = "another user can write it";
        return false;
    }
    return true;
}

bool readTranslationFile(const std::filesystem::path& path, pugi::xml_document& document,
                         std::string& error) {
    std::string text;
    return readTextFile(path, Translation::kMaxFileSize, isTrustedTranslation, text, error) &&
           parseXml(document, text, error, Translation::kMaxNodes);
}

template <typename T>
bool isExactly(const QObject* object) {
    return object->metaObject() == &T::staticMetaObject;
}

bool isPlaceholder(std::string_view text, size_t at) {
    if (at + 1 >= text.size() || text[at] != '%')
        return false;
    char kind = text[at + 1];
    return kind == '@' || kind == 'i' || kind == 'd';
}

std::string formatAll(std::string_view text, const std::vector<std::string_view>& args) {
    std::string result;
    result.reserve(text.size());
    auto next = args.begin();
    for (size_t at = 0; at < text.size(); ++at) {
        if (isPlaceholder(text, at)) {
            if (next != args.end())
                result.append(*next++);
            ++at;
        } else if (text.substr(at, 2) == "%%") {
            result.push_back('%');
            ++at;
        } else {
            result.push_back(text[at]);
        }
    }
    return result;
}

}  // namespace

Translation::Translation(const ConsoleConfig& config) : config_(config) {}

void Translation::loadAvailable() {
    available_.clear();
    std::error_code error;
    std::filesystem::directory_iterator entries(config_.getLangDir(), error);
    if (error)
        return;
    size_t read = 0;
    for (const auto& entry : entries) {
        if (available_.size() >= kMaxListedFiles || read >= kMaxReadFiles) {
            logger().notice("Translations: the listing stopped after {} files.", read);
            break;
        }
        std::string fileName = entry.path().filename().string();
        if (!hasTranslationFileName(fileName))
            continue;
        ++read;
        pugi::xml_document document;
        std::string reason;
        if (!readTranslationFile(entry.path(), document, reason))
            continue;
        pugi::xml_attribute name = document.document_element().attribute("name");
        if (name)
            available_[fileName] = name.value();
    }
}

bool Translation::loadCurrent() {
    ++revision_;
    sections_.clear();
    const std::string fileName = config_.translation();
    if (fileName.empty())
        return false;
    if (!available_.contains(fileName)) {
        logger().notice("Translation not loaded: {} is not an installed translation.", fileName);
        return false;
    }
    pugi::xml_document document;
    std::string error;
    if (!readTranslationFile(config_.getLangDir() / fileName, document, error)) {
        logger().notice("Translation not loaded: {}", error);
        return false;
    }
    for (pugi::xml_node sectionNode : document.document_element().children("section")) {
        pugi::xml_attribute sectionId = sectionNode.attribute("id");
        if (!sectionId)
            continue;
        Texts texts;
        for (pugi::xml_node textNode : sectionNode.children("text")) {
            pugi::xml_attribute key = textNode.attribute("id");
            if (key)
                texts[key.value()] = childText(textNode, ".");
        }
        sections_[sectionId.value()] = std::move(texts);
    }
    return true;
}

std::optional<std::string> Translation::lookup(const std::string& sectionName,
                                               const std::string& key) const {
    auto texts = sections_.find(sectionName);
    if (texts == sections_.end())
        return std::nullopt;
    auto text = texts->second.find(key);
    if (text == texts->second.end())
        return std::nullopt;
    return text->second;
}

std::string Translation::section(const std::string& sectionName, const std::string& key,
                                 const std::string& deflt) const {
    return lookup(sectionName, key).value_or(deflt);
}

std::string Translation::section(const std::string& sectionName, const std::string& key) const {
    return section(sectionName, key, key);
}

QString Translation::qtext(const char* sectionName, const char* key, const char* deflt) const {
    return QString::fromStdString(section(sectionName, key, deflt));
}

void Translation::control(QObject* control, const std::string& sectionName,
                          const std::string& key) const {
    if (control == nullptr)
        return;
    std::optional<std::string> found = lookup(sectionName, key);
    if (!found)
        return;
    const QString text = QString::fromStdString(*found);
    auto* widget = qobject_cast<QWidget*>(control);
    if (widget != nullptr && widget->isWindow())
        widget->setWindowTitle(text);
    else if (isExactly<QLabel>(control))
        static_cast<QLabel*>(control)->setText(text);
    else if (isExactly<QPushButton>(control))
        static_cast<QPushButton*>(control)->setText(text);
    else if (isExactly<QCheckBox>(control))
        static_cast<QCheckBox*>(control)->setText(text);
    else if (isExactly<QAction>(control))
        static_cast<QAction*>(control)->setText(text);
    else if (isExactly<QGroupBox>(control))
        static_cast<QGroupBox*>(control)->setTitle(text);
}

void Translation::control(const TableColumn& column, const std::string& sectionName,
                          const std::string& key) const {
    if (column.model == nullptr)
        return;
    if (std::optional<std::string> found = lookup(sectionName, key))
        column.model->setHeaderData(column.column, Qt::Horizontal, QString::fromStdString(*found));
}

void Translation::group(std::initializer_list<std::pair<QObject*, const char*>> controls,
                        const std::string& sectionName) const {
    for (const auto& [object, key] : controls)
        control(object, sectionName, key);
}

std::string Translation::format(std::string_view text,
                                std::initializer_list<std::string_view> args) {
    return formatAll(text, std::vector<std::string_view>(args));
}

QString Translation::format(const QString& text, std::initializer_list<QString> args) {
    std::vector<std::string> held;
    held.reserve(args.size());
    for (const QString& arg : args)
        held.push_back(arg.toStdString());
    std::vector<std::string_view> views(held.begin(), held.end());
    return QString::fromStdString(formatAll(text.toStdString(), views));
}

}  // namespace velmora::console
