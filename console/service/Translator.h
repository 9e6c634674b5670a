#pragma once

#include <string>

namespace velmora::console {

// A visible text by section and key of the translation files, with the English default.
struct TranslatedText {
    const char* section;
    const char* key;
    const char* deflt;
};

inline constexpr TranslatedText kInvalidXmlText{"Errors", "NonXML", "Invalid XML in response"};
inline constexpr TranslatedText kNoUpdateText{"Mac.UpdateDlg", "NoUpdate", "No updates available"};

// Where the service operations find the user's language; the translation files plug in here.
class Translator {
  public:
    virtual ~Translator() = default;
    // The text of `key` in `sectionName`, or `deflt` when the active translation has none.
    virtual std::string section(const std::string& sectionName, const std::string& key,
                                const std::string& deflt) const = 0;

    std::string text(const TranslatedText& text) const {
        return section(text.section, text.key, text.deflt);
    }
};

// No translation loaded: every text is its English default.
class DefaultTranslator : public Translator {
  public:
    std::string section(const std::string&, const std::string&,
                        const std::string& deflt) const override {
        return deflt;
    }
};

}  // namespace velmora::console
