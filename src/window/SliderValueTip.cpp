#include "window/SliderValueTip.h"

#include <QEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

void SliderValueTip::attach(QSlider* slider) {
    new SliderValueTip(slider);
}

SliderValueTip::SliderValueTip(QSlider* slider) : QObject(slider), slider_(slider) {
    slider->setAttribute(Qt::WA_Hover);
    slider->installEventFilter(this);
    connect(slider, &QSlider::valueChanged, this, [this] {
        if (over_ || slider_->isSliderDown()) {
            show();
        }
    });
    connect(slider, &QSlider::sliderReleased, this, [this] {
        if (!over_) {
            QToolTip::hideText();
        }
    });
}

bool SliderValueTip::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
        case QEvent::HoverEnter:
        case QEvent::HoverMove:
            over_ = true;
            show();
            break;
        case QEvent::HoverLeave:
            over_ = false;
            if (!slider_->isSliderDown()) {
                QToolTip::hideText();
            }
            break;
        case QEvent::ToolTip:
            return true;  // the value is shown already; no other tip over it
        default:
            break;
    }
    return false;
}

void SliderValueTip::show() {
    QStyleOptionSlider option;
    option.initFrom(slider_);
    option.orientation = slider_->orientation();
    option.minimum = slider_->minimum();
    option.maximum = slider_->maximum();
    option.sliderPosition = slider_->sliderPosition();
    option.sliderValue = slider_->value();
    option.tickPosition = slider_->tickPosition();
    option.tickInterval = slider_->tickInterval();
    option.singleStep = slider_->singleStep();
    option.pageStep = slider_->pageStep();
    option.upsideDown = slider_->invertedAppearance();
    const QRect handle = slider_->style()->subControlRect(QStyle::CC_Slider, &option,
                                                          QStyle::SC_SliderHandle, slider_);
    const QPoint above = slider_->mapToGlobal(QPoint(handle.center().x(), handle.top() - 24));
    QToolTip::showText(above, QString::number(slider_->value()), slider_, QRect(), 5000);
}
