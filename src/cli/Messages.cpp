#include "cli/Messages.h"

#include <QLocale>
#include <QTranslator>

#include <vector>

namespace orvel::cli {
namespace {

// Compiled into the program from translations/orvelwddx-check_de.ts.
QTranslator& Translator()
{
    static QTranslator translator;
    return translator;
}

} // namespace

void LoadTranslation()
{
    // No application object is needed: the translator is asked directly.
    (void)Translator().load(QLocale(), QStringLiteral("orvelwddx-check"), QStringLiteral("_"),
                            QStringLiteral(":/i18n"));
}

std::string Tr(const char* Source, std::initializer_list<std::string_view> Args)
{
    const QString translated = Translator().translate("orvelwddx-check", Source);
    const std::string text = translated.isEmpty() ? std::string(Source) : translated.toStdString();
    const std::vector<std::string_view> args(Args);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' &&
            size_t(text[i + 1] - '1') < args.size()) {
            out += args[size_t(text[i + 1] - '1')];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace orvel::cli
