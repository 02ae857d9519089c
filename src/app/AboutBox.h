#pragma once
// The about box: the program's version and what it is built with.

#include <QString>

class QWidget;

// The about box's text (HTML).
QString aboutText();
// Shows the about box modally over `parent`.
void showAboutBox(QWidget* parent);
