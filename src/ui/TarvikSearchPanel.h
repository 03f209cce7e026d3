#pragma once
// The search tab of the account group: banks by search words in the country of the group's country selection, shown
// in the result window.

#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <memory>

class QTabWidget;

namespace Ui {
class TPanelTarvikSearch;
}

namespace orvel {

class TFormMain;
class TFormSearchResult;

// The text of the result window: a heading by the number of banks, then each entry with its fields separated by TAB.
// A negative count is a failed search; Resulttext then says why.
QStringList SearchResultLines(int32_t Count, const QStringList& Entries, const QString& Resulttext = {});

class TPanelTarvikSearch : public QWidget
{
    Q_OBJECT

public:
    // Fills the search tab of Pages.
    TPanelTarvikSearch(TFormMain& Host, QTabWidget& Pages);
    ~TPanelTarvikSearch() override;

    void ButtonTarvikSearchClick();
    // The search, its hits shown in the result window; afterwards the focus is in the search field and the cursor
    // restored, also when the call throws, and the error goes on to the caller.
    void SearchBanksWddx();
    void SearchBanksWeb();

    TFormSearchResult& FormSearchResult() const { return *FFormSearchResult; }

private:
    template <class Call> void SearchBanks(Call&& Lines);

    std::unique_ptr<Ui::TPanelTarvikSearch> FUi;
    TFormMain& FHost;
    TFormSearchResult* FFormSearchResult; // a window of its own over the main window, which owns it
};

} // namespace orvel
