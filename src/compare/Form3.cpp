#include "Form3.h"

#include "ApplicationTitle.h"
#include "ErrorTrap.h"
#include "Form2.h"
#include "Main.h"
#include "WindowRegistry.h"

namespace compare {

using app::Twips;

Form3::Form3(app::WindowRegistry& registry) : app::Window(registry) {
    setFixedSize(Twips(5880), Twips(5475));
    PushButton2 = new QPushButton(QStringLiteral("< Back"), this);
    PushButton2->setObjectName(QStringLiteral("PushButton2"));
    PushButton2->setGeometry(Twips(120), Twips(4920), Twips(2775), Twips(405));
    PushButton9 = new QPushButton(QStringLiteral("Exit"), this);
    PushButton9->setObjectName(QStringLiteral("PushButton9"));
    PushButton9->setGeometry(Twips(3000), Twips(4920), Twips(2760), Twips(405));
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton9, &QPushButton::clicked, this, [this] { PushButton9_Click(); });
}

void Form3::Form_Load() {
    app::ErrorTrap trap(registry().boxes(), app::kForm3LoadTag);
    trap.step(100, [&] { app::ApplyClassicColours(*this); });
    trap.step(102, [&] { setWindowIcon(app::ProgramIcon()); });
    trap.step(110, [&] { setWindowTitle(QString::fromLatin1(app::kProductName)); });
}

void Form3::PushButton2_Click() {
    app::ErrorTrap trap(registry().boxes(), app::kForm3BackTag);
    trap.step(104, [&] { registry().form2().Show(); });
    trap.step(106, [&] { Hide(); });
}

void Form3::PushButton9_Click() {
    app::ErrorTrap trap(registry().boxes(), app::kForm3ExitTag);
    trap.step(100, [&] { registry().EndProgram(); });
}

}  // namespace compare
