#pragma once
// The skin gallery: the skinned main face with its buttons, lamps, labels and a sample
// voice diagram, and a sheet that shows every button and lamp in each of its states
// beside the skin's other pictures.

#include <QString>
#include <QWidget>

#include <memory>

class TSkinForm;

// The skinned main face, built from the pictures in `skinFolder`.
class GalleryFace : public QWidget {
public:
    explicit GalleryFace(const QString& skinFolder);
    TSkinForm* Skin() const { return skin_; }

private:
    TSkinForm* skin_;
};

// Every button and lamp in every state, and the remaining pictures.
class GallerySheet : public QWidget {
public:
    explicit GallerySheet(const QString& skinFolder);
};

// Loads a picture of the skin; reports a missing file on stderr and returns an empty one.
QImage loadSkinPicture(const QString& skinFolder, const QString& fileName);
