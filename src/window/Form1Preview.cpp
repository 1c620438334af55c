// The preview window, which Form1 opens and keeps informed. It observes the sliders, the output
// folder and the selection on its own, beside their handlers, and changes none of them.
#include "imagelist/ImageList.h"
#include "window/Form1.h"
#include "window/ImageListView.h"
#include "window/PreviewWindow.h"

#include <QLineEdit>
#include <QSlider>

void Form1::watchForPreview() {
    connect(ListView1, &ImageListView::previewRequested, this, &Form1::openPreview);
    for (QSlider* slider : {Slider1, Slider2, Slider3, Slider4}) {
        connect(slider, &QSlider::valueChanged, this, &Form1::followSettingsInPreview);
    }
    connect(Text1, &QLineEdit::textChanged, this, &Form1::followSettingsInPreview);
    connect(imageList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &Form1::followSelectionInPreview);
    connect(imageList_, &QAbstractItemModel::rowsRemoved, this, &Form1::followSelectionInPreview);
    connect(imageList_, &QAbstractItemModel::modelReset, this, &Form1::followSelectionInPreview);
    connect(imageList_, &QAbstractItemModel::dataChanged, this, &Form1::followSelectionInPreview);
}

void Form1::openPreview() {
    if (preview_ == nullptr) {
        preview_ = new PreviewWindow(this, services_.settings, batch_->sharedBudget());
    }
    preview_->setOwnerPlace(frameGeometry(),
                            QRect(ListView1->mapToGlobal(QPoint(0, 0)), ListView1->size()));
    followSettingsInPreview();
    followSelectionInPreview();
    preview_->show();
    preview_->raise();
    preview_->activateWindow();
}

void Form1::followSelectionInPreview() {
    if (preview_ == nullptr) {
        return;
    }
    const int position = imageList_->SelectedPosition();
    preview_->showPicture(position > 0 ? imageList_->RowText(position) : QString());
}

void Form1::followSettingsInPreview() {
    if (preview_ != nullptr) {
        preview_->setSettings({thresholds(), quality(), outputFolder()});
    }
}
