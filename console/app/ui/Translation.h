#pragma once

#include <QString>

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "console/app/ui/TableColumn.h"
#include "console/service/Translator.h"

class QObject;

namespace velmora::console {

class ConsoleConfig;

// The console's texts in the user's language: the translation files of the shared "lang"
// folder, each an XML document whose root names the language and whose sections hold texts by
// key. Loaded once at start-up on the main thread and read-only afterwards, so any thread may
// look texts up.
class Translation : public Translator {
  public:
    explicit Translation(const ConsoleConfig& config);

    // Lists the installed translations: file name → the language's display name.
    void loadAvailable();
    // Loads the translation the settings name; false when there is none or it cannot be read.
    // Only a file that loadAvailable listed is ever opened.
    bool loadCurrent();

    std::string section(const std::string& sectionName, const std::string& key,
                        const std::string& deflt) const override;
    // The key itself is the default.
    std::string section(const std::string& sectionName, const std::string& key) const;
    QString qtext(const char* sectionName, const char* key, const char* deflt) const;

    const std::map<std::string, std::string>& available() const { return available_; }

    // Gives a control its translated text when the translation has one; otherwise the control
    // keeps its designed text. Only the exact classes QLabel, QPushButton, QCheckBox, QAction and
    // QGroupBox, and any top-level QWidget (its title), are recognised.
    void control(QObject* control, const std::string& sectionName, const std::string& key) const;
    void control(const TableColumn& column, const std::string& sectionName,
                 const std::string& key) const;
    // control() for each pair; several controls may share one key.
    void group(std::initializer_list<std::pair<QObject*, const char*>> controls,
               const std::string& sectionName) const;

    // Fills the "%@", "%i" and "%d" placeholders of a translated text with `args` in order, one
    // token at a time: an argument's own text is never read as a placeholder, a missing argument
    // leaves nothing, "%%" is a single "%".
    static std::string format(std::string_view text, std::initializer_list<std::string_view> args);
    static QString format(const QString& text, std::initializer_list<QString> args);

    // Installed translations are small; these bound what a planted file can make us read.
    static constexpr size_t kMaxFileSize = size_t{1} << 20;
    static constexpr size_t kMaxNodes = 100'000;
    static constexpr size_t kMaxListedFiles = 256;

  private:
    using Texts = std::map<std::string, std::string>;

    std::optional<std::string> lookup(const std::string& sectionName, const std::string& key) const;

    const ConsoleConfig& config_;
    std::map<std::string, std::string> available_;
    std::map<std::string, Texts> sections_;
};

}  // namespace velmora::console
