#pragma once

#include <QString>

// The application title: what every message box without a title of its own shows.

// The title made from `productTitle` by dropping its last word at least once, and again while it
// is longer than 40 characters.
QString ShortenTitle(const QString& productTitle);

// Sets the application title from the product title ("Tonvaler Software" gives "Tonvaler").
void SetAppTitle();

// The application title; empty until SetAppTitle has run.
QString AppTitle();
