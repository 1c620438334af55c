#pragma once

#include <QImage>

// `picture` (grey or 4 bytes a pixel) averaged over blocks of factor x factor pixels (those at
// the right and bottom edges over what they hold): a faithful small picture of fine lines.
QImage AverageDown(const QImage& picture, int factor);
