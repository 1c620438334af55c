#pragma once

#include <QObject>

class QSlider;

// Shows a slider's value in a tool tip above its handle while the pointer is over the slider or
// the handle is dragged, following the handle; the slider and its layout are left as they are.
// Owned by the slider.
class SliderValueTip : public QObject {
    Q_OBJECT
  public:
    static void attach(QSlider* slider);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit SliderValueTip(QSlider* slider);
    void show();

    QSlider* slider_;
    bool over_ = false;
};
