#include "base/AppTitle.h"

#include "base/AppInfo.h"

namespace {
QString& appTitle() {
    static QString title;
    return title;
}
}  // namespace

QString ShortenTitle(const QString& productTitle) {
    QString title = productTitle;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        // A title of one word has no blank: dropping its last word leaves nothing.
        title = blank < 0 ? QString() : title.left(blank);
    } while (title.size() > 40);
    return title;
}

void SetAppTitle() {
    appTitle() = ShortenTitle(QString::fromUtf8(AppInfo::ProductTitle));
}

QString AppTitle() {
    return appTitle();
}
