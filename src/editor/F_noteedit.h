#pragma once
// TfNoteEdit: the "Edit Note" dialog the editor opens for one note. It shows the note's
// start, duration, pitch and velocity, steps them with its arrows (the start and the
// duration one tick at a time, kept between the neighbours), and closes with the action
// the user chose. It never touches the notes: the editor applies the result.

#include <QDialog>

#include <functional>

#include "editor/NoteEdits.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QToolButton;

// A pair of arrows beside an edit field, with a position in a range. A field whose value
// is stepped elsewhere refuses the move and reports only the direction.
class UpDown : public QWidget {
public:
    UpDown(QWidget* parent, const char* name, int minimum, int maximum);

    int position() const { return position_; }
    void setPosition(int position);
    void setRange(int minimum, int maximum);
    // Presses the up or the down arrow.
    void click(bool up);

    bool refusesMoves = false;
    std::function<void(bool up)> changing;
    std::function<void()> clicked;

private:
    QToolButton* up_;
    QToolButton* down_;
    int minimum_;
    int maximum_;
    int position_;
};

// The pitch arrows reach from C1 to C8.
constexpr int kLowestEditedPitch = 12;
constexpr int kHighestEditedPitch = 96;

class TfNoteEdit : public QDialog {
public:
    explicit TfNoteEdit(QWidget* owner);

    // Set by the editor before showing, read after it closes with Accepted.
    int16_t notePitch = 0;
    int32_t noteStart = 0;
    int32_t noteDuration = 0;
    int16_t noteVelocity = 0;
    int32_t prevEnd = 0;
    int32_t nextStart = 0;
    int32_t action = ActionNone;
    // Opens a help topic (the editor gives the main window's viewer).
    std::function<void(int context)> showHelp;

    QLineEdit* e_Position;
    UpDown* ud_Pos;
    QLineEdit* e_Quantity;
    UpDown* ud_Qnt;
    QLineEdit* e_Note;
    UpDown* ud_Note;
    QLineEdit* e_Vel;
    UpDown* ud_Vel;
    QPushButton* b_Ok;
    QPushButton* b_MergeB;
    QPushButton* b_MergeF;
    QSlider* tb_Split;
    QPushButton* b_Split;
    QPushButton* b_Delete;
    QPushButton* b_Help;
    QPushButton* b_Cancel;

    void FormShow();
    void ud_PosChangingEx(bool up);
    void ud_QntChangingEx(bool up);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    NoteValues values() const;
    void closeWith(int32_t chosen);
    void showStart();
    void showDuration();
};
