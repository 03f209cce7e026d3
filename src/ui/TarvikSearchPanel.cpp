#include "ui/TarvikSearchPanel.h"

#include "platform/Error.h"
#include "soap/WebServices.h"
#include "ui/OrvelUtils.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui/OrvelWddxSuchergebnis.h"
#include "ui_TarvikSearchPanel.h"

#include <QTabWidget>

namespace orvel {

using namespace Qt::StringLiterals;

QStringList SearchResultLines(int32_t Count, const QStringList& Entries, const QString& Resulttext)
{
    if (Count < 0)
        return {u"Suche fehlgeschlagen (%1):"_s.arg(Count), Resulttext};
    QStringList lines;
    if (Count == 0)
        lines << u"Keine passende(n) Bank(en) gefunden."_s;
    else if (Count == 1)
        lines << u"Eine einzige passende Bank gefunden:"_s;
    else
        lines << QString::number(Count) + u" passende Banken gefunden:"_s;
    for (QString entry : Entries)
        lines << entry.replace(u'|', u'\t');
    return lines;
}

TPanelTarvikSearch::TPanelTarvikSearch(TFormMain& Host, QTabWidget& Pages)
    : QWidget(Pages.widget(1)), FUi(std::make_unique<Ui::TPanelTarvikSearch>()), FHost(Host),
      FFormSearchResult(new TFormSearchResult(&Host))
{
    FUi->setupUi(this);
    auto* layout = new QVBoxLayout(Pages.widget(1));
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(this);
    connect(FUi->ButtonTarvikSearch, &QPushButton::clicked, this,
            [this] { Guarded(&FHost, [this] { ButtonTarvikSearchClick(); }); });
}

TPanelTarvikSearch::~TPanelTarvikSearch() = default;

void TPanelTarvikSearch::ButtonTarvikSearchClick()
{
    if (FHost.DoWeb)
        SearchBanksWeb();
    else
        SearchBanksWddx();
}

template <class Call> void TPanelTarvikSearch::SearchBanks(Call&& Lines)
{
    FFormSearchResult->Clear();
    const TFinally focus([this] {
        FUi->EditTarvikSearch->setFocus();
        FUi->EditTarvikSearch->selectAll();
    });
    TWaitCursor wait;
    ProcessPendingEvents();
    FFormSearchResult->SetLines(Lines());
    FFormSearchResult->ShowModal();
}

void TPanelTarvikSearch::SearchBanksWddx()
{
    SearchBanks([this] {
        if (!FHost.TarvikObject)
            throw Error("Kein Pr\xFC" "fobjekt vorhanden");
        const ITarvik& tarvik = FHost.TarvikObject;
        tarvik->SetSSLMode(FHost.CurrentSSLMode());
        tarvik->Search(FHost.User().toStdU16String(), FHost.Pass().toStdU16String(),
                       FUi->EditTarvikSearch->text().toStdU16String(), FHost.LandText().toStdU16String(),
                       FUi->CheckBoxTarvikFragments->isChecked() ? 1 : 0);
        const int32_t count = tarvik->Result();
        QStringList entries;
        for (int32_t i = 1; i <= count; ++i)
            entries << QString::fromStdU16String(tarvik->Banken(i));
        return SearchResultLines(count, entries, QString::fromStdU16String(tarvik->Resulttext()));
    });
}

void TPanelTarvikSearch::SearchBanksWeb()
{
    SearchBanks([this] {
        if (!FHost.TarvikService)
            throw Error("Kein Web-Service vorhanden");
        PrepareService("ITarvik", *FHost.TarvikServiceObject, FHost.ServiceSettings());
        const TStringDynArray banks = FHost.TarvikService->Search(
            FHost.User().toStdU16String(), FHost.Pass().toStdU16String(),
            FUi->EditTarvikSearch->text().toStdU16String(), FHost.LandText().toStdU16String(),
            FUi->CheckBoxTarvikFragments->isChecked() ? 1 : 0);
        QStringList entries;
        for (const WideString& bank : banks)
            entries << QString::fromStdU16String(bank);
        return SearchResultLines(static_cast<int32_t>(entries.size()), entries);
    });
}

} // namespace orvel
