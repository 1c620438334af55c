#include "window/LiteralProgressBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

LiteralProgressBar::Drawn LiteralProgressBar::drawnFrom(
    const QStyleOptionProgressBar& option) const {
    const QStyle* s = style();
    return {option.minimum,
            option.maximum,
            option.progress,
            s->subElementRect(QStyle::SE_ProgressBarGroove, &option, this),
            s->subElementRect(QStyle::SE_ProgressBarContents, &option, this),
            static_cast<int>(option.state),
            static_cast<int>(option.direction),
            option.invertedAppearance,
            option.palette.cacheKey(),
            s,
            devicePixelRatio()};
}

// The three parts the style draws a progress bar from, as its own drawing of the whole bar does;
// only the text is drawn each time.
void LiteralProgressBar::paintEvent(QPaintEvent*) {
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    const QStyle* s = style();
    const Drawn now = drawnFrom(option);
    if (bar_.isNull() || !(now == drawn_)) {
        bar_ = QPixmap(size() * now.pixelRatio);
        bar_.setDevicePixelRatio(now.pixelRatio);
        bar_.fill(Qt::transparent);
        QPainter painter(&bar_);
        QStyleOptionProgressBar part = option;
        part.rect = now.groove;
        s->drawControl(QStyle::CE_ProgressBarGroove, &part, &painter, this);
        part.rect = now.contents;
        s->drawControl(QStyle::CE_ProgressBarContents, &part, &painter, this);
        drawn_ = now;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, bar_);
    if (option.textVisible) {
        option.rect = s->subElementRect(QStyle::SE_ProgressBarLabel, &option, this);
        s->drawControl(QStyle::CE_ProgressBarLabel, &option, &painter, this);
    }
}
