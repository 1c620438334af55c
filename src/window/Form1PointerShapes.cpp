#include "window/Form1.h"
#include "window/ImageListView.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// The pointer follows the mouse: the hand over the seven buttons, the arrow over the window's
// background, its frames, four of its labels and the output field (the list sees to itself). While
// the window is busy the hourglass stays wherever the mouse goes. The sliders, the progress bar and
// the two other labels have no say.
void Form1::watchPointerShapes() {
    handOver_ = {PushButton1, PushButton2, PushButton3, PushButton4,
                 PushButton5, PushButton6, PushButton7};
    arrowOver_ = {this,   Frame1, Frame2, Frame3, Frame4, Frame5,
                  Label1, Label2, Label3, Label4, Text1};
    for (QWidget* w : handOver_ + arrowOver_) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    // A move over a control is that control's, and reaches no frame or window below it.
    for (QWidget* w : findChildren<QWidget*>()) {
        w->setAttribute(Qt::WA_NoMousePropagation);
    }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && !pointer_.IsBusy()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (handOver_.contains(widget)) {
            pointer_.setMode(PointerMode::Custom);
        } else if (arrowOver_.contains(widget)) {
            pointer_.setMode(PointerMode::Default);
        }
    }
    return QWidget::eventFilter(watched, event);
}
