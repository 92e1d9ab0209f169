#include "TableSelectionWindow.h"

#include "ApplicationTitle.h"
#include "ClassicLook.h"
#include "ErrorTrap.h"
#include "Layout.h"
#include "LoginWindow.h"
#include "Settings.h"
#include "TableCatalogue.h"
#include "WindowRegistry.h"

namespace windows {

TableSelectionWindow::TableSelectionWindow(WindowRegistry& registry) : Window(registry) {
    setFont(ArialFont(9, true));
    // One row below the buttons holds the comparison's option.
    setFixedSize(Twips(7080), Twips(5100));

    Label1 = Place(new QLabel(QStringLiteral(" Which 2 tables would you like to compare?"), this),
                   "Label1", 120, 120, 3735, 255);
    ListView1 = Place(new TableListView(this), "ListView1", 120, 480, 3360, 3075);
    ListView2 = Place(new TableListView(this), "ListView2", 3600, 480, 3360, 3075);
    ProgressBar1 = Place(new QProgressBar(this), "ProgressBar1", 120, 3660, 6840, 405);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    PushButton2 =
        Place(new QPushButton(QStringLiteral("< Back"), this), "PushButton2", 120, 4200, 3360, 405);
    PushButton3 = Place(new QPushButton(QStringLiteral("Next >"), this), "PushButton3", 3585, 4200,
                        3360, 405);
    for (QPushButton* b : {PushButton2, PushButton3}) {
        b->setFont(ArialFont(11.25));
        b->setAutoDefault(false);
    }
    PairByName = Place(new QCheckBox(QStringLiteral("Pair fields by name"), this), "PairByName",
                       120, 4700, 3360, 300);
    PairByKey = Place(new QCheckBox(QStringLiteral("Pair records by key"), this), "PairByKey", 3600,
                      4700, 3360, 300);
    // Each option as the user last left it, stored as it changes.
    const auto storedOption = [this](QCheckBox* box, const connection::SettingKey& key) {
        box->setChecked(connection::SettingsStore().read(key) == QStringLiteral("1"));
        connect(box, &QCheckBox::toggled, this, [&key](bool ticked) {
            connection::SettingsStore().write(key,
                                              ticked ? QStringLiteral("1") : QStringLiteral("0"));
        });
    };
    storedOption(PairByName, connection::kPairFieldsByNameSetting);
    storedOption(PairByKey, connection::kPairRecordsByKeySetting);

    setTabOrder(ListView1, ListView2);
    setTabOrder(ListView2, PushButton3);
    setTabOrder(PushButton3, PushButton2);
    setTabOrder(PushButton2, PairByName);
    setTabOrder(PairByName, PairByKey);

    AddPointerHandler(Label1, PointerHandler::Normal);
    AddPointerHandler(ListView1->viewport(), PointerHandler::Normal);
    AddPointerHandler(ListView2->viewport(), PointerHandler::Normal);
    AddPointerHandler(PushButton2, PointerHandler::Hand);
    AddPointerHandler(PushButton3, PointerHandler::Hand);
    AddNoPointerHandler(ProgressBar1);
    AddNoPointerHandler(PairByName);
    AddNoPointerHandler(PairByKey);

    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
}

void TableSelectionWindow::Form_Load() {
    ErrorTrap trap(registry().boxes(), app::kForm2LoadTag);
    trap.step(104, [&] { ApplyClassicColours(*this); });
    trap.step(104, [&] { setWindowIcon(ProgramIcon()); });
    LoadPointerFile(trap, 108, 110);
    trap.step(112, [&] { setWindowTitle(QString::fromLatin1(app::kProductName)); });
    trap.step(114, [&] { ListView1->AddColumnHeader(QStringLiteral("Similar Table #1")); });
    trap.step(116, [&] { ListView1->SetColumnWidth(Twips(4000)); });
    trap.step(118, [&] { ListView2->AddColumnHeader(QStringLiteral("Similar Table #2")); });
    trap.step(120, [&] { ListView2->SetColumnWidth(Twips(4000)); });
}

void TableSelectionWindow::PushButton2_Click() {
    ErrorTrap trap(registry().boxes(), app::kForm2BackTag);
    trap.step(100, [&] { registry().loginWindow().Show(); });
    trap.step(102, [&] { Hide(); });
}

void TableSelectionWindow::FillTableList(TableSide side, const catalogue::CatalogueRead& read) {
    catalogue::FillTableList(side == TableSide::First ? *ListView1 : *ListView2, read);
}

}  // namespace windows
