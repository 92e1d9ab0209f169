#include "ApplicationTitle.h"

#include "MessageBoxes.h"

namespace app {

QString ApplicationTitleFor(const QString& productName) {
    QString title = productName;
    while (title.size() > 40) {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0) break;  // one long word: nothing left to cut at
        title.truncate(blank);
    }
    return title;
}

void ApplyApplicationTitle() {
    ui::SetApplicationTitle(ApplicationTitleFor(QString::fromLatin1(kProductName)));
}

}  // namespace app
