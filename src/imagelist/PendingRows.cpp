#include "imagelist/PendingRows.h"

void PendingRows::start() {
    pending_.clear();
    for (int position = 1; position <= list_.RowCount(); ++position) {
        pending_.insert(list_.RowIdAt(position));
    }
    taken_ = 0;
    arranged_ = false;
}

// Rows move rarely (a drag, a removal), and every pass asks: the order is made again only then.
void PendingRows::arrange() {
    if (arranged_ && arrangement_ == list_.Arrangement()) {
        return;
    }
    order_.clear();
    front_ = 0;
    for (int position = 1; position <= list_.RowCount() && order_.size() < pending_.size();
         ++position) {
        if (pending_.count(list_.RowIdAt(position)) != 0) {
            order_.push_back(position);
        }
    }
    arrangement_ = list_.Arrangement();
    arranged_ = true;
}

int PendingRows::positionFor(int pass) {
    arrange();
    const std::size_t at = front_ + std::size_t(pass - taken_);
    return pass >= taken_ && at < order_.size() ? order_[at] : 0;
}

int PendingRows::take() {
    const int position = positionFor(taken_);
    ++taken_;
    if (position > 0) {
        pending_.erase(list_.RowIdAt(position));
        ++front_;
    }
    return position;
}
