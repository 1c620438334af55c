#include "base/RuntimeError.h"
#include "window/Form1.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>

#include <cerrno>

// The skin is a Qt style sheet in x/o.cjs beside the executable. Without it the window keeps the
// platform's look.
void Form1::ApplySkin() {
    const QString skinFile = services_.programFolder + QStringLiteral("/x/o.cjs");
    if (!QFileInfo(skinFile).isFile()) {
        return;
    }
    // First the background of the window, its frames and its labels in the button-face colour.
    const QColor buttonFace = palette().color(QPalette::Button);
    QList<QWidget*> painted{this};
    for (QWidget* w : findChildren<QWidget*>()) {
        if (qobject_cast<QGroupBox*>(w) != nullptr || qobject_cast<QLabel*>(w) != nullptr) {
            painted.append(w);
        }
    }
    for (QWidget* w : painted) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, buttonFace);
        w->setPalette(p);
        w->setAutoFillBackground(true);
    }
    QFile file(skinFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        throw RuntimeError::fromErrno(errno != 0 ? errno : EACCES, skinFile.toStdString());
    }
    setStyleSheet(QString::fromUtf8(file.readAll()));
}
