#pragma once
// Draws the pictures of the BASE skin: the main face, a state strip for every image
// button and lamp, the level meter, the play marker, the display pages, the settings
// background, the editor's header plate and footer icons. Everything is drawn from code
// with QPainter; light falls from the top left throughout.

#include <QImage>
#include <QString>

#include <vector>

struct SkinPicture {
    QString fileName;
    QImage image;
};

// Every picture of the skin, ready to be written as 24-bit BMP files.
std::vector<SkinPicture> drawBaseSkin();
