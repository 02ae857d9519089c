#pragma once
// TfDisplay: the note editor, a borderless tool window ("Edit") below the main window. It
// draws the notes of the main window's note sequence as coloured bars on a pitch-by-time
// grid, shows the play position, scrolls and zooms, and lets the user pick a note (which
// sounds it), drag it to another pitch, and change, split, merge or delete it in the note
// edit dialog or the note's pop-up menu. Edits go straight into the note sequence, can be
// undone (Ctrl+Z) and redone (Ctrl+Shift+Z), and move the main window to the edited note.
//
// Each note in view is a child control named "NI_" + its index; only the notes from the
// first one in view to the right edge get one, so a long melody stays fast.

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "editor/NoteEdits.h"
#include "editor/PianoRollView.h"

class MidiOut;
class QFrame;
class QLabel;
class QMenu;
class QScrollBar;
class TfNoteEdit;

// What the editor needs of the main window.
class EditorHost {
public:
    virtual ~EditorHost() = default;
    virtual NoteSequence& editedNotes() = 0;
    virtual MidiOut& auditionOut() = 0;
    // Neither a take nor a playback runs.
    virtual bool editingAllowed() const = 0;
    // Moves the main window's diagram to a position (ticks with flag 2).
    virtual void SetDiagramPosition(int32_t a, int32_t b, uint32_t flags) = 0;
    virtual void showHelpTopic(int context) = 0;
    // Asks for a MIDI file and makes its notes the current ones.
    virtual void openMidiFile() = 0;
};

// One note on the roll: a coloured bar with a 1-pixel outline, white when selected.
class NoteImage : public QWidget {
public:
    NoteImage(QWidget* parent, int32_t tag);
    int32_t Tag;
    void paintNote(int pitch, bool selected);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QColor fill_;
    bool selected_ = false;
};

class TfDisplay : public QWidget {
public:
    static constexpr int kInitialWidth = 684;
    static constexpr int kInitialHeight = 344;

    TfDisplay(QWidget* owner, EditorHost& host);
    ~TfDisplay() override;

    PianoRollView view;
    NoteImage* selectedImage = nullptr;
    uint32_t auditionNote = 0;
    bool resizing = false;

    QFrame* p_Header;
    QLabel* imgHeader;
    QLabel* img_PlayPos;
    QFrame* p_Footer;
    QLabel* l_BBT;
    QLabel* l_Pitch;
    QScrollBar* sb_Position;
    QLabel* b_ZoomUp;
    QLabel* b_ZoomDown;
    QLabel* b_Resize;
    QMenu* mnNote;

    // The skin's icons of the zoom buttons and the resize grip.
    void setIcons(const QString& skinFolder);
    void setHeaderPicture(const QPixmap& picture);

    void reset();
    void prepare();
    void update(uint32_t flags, int32_t playTicks);
    bool followPlay();
    void selectNote(int32_t index, int32_t previous, NoteImage* image, bool scrollIntoView);
    void setPlayPosition(int32_t ticks);
    int32_t pitchAt(int32_t y) const { return view.pitchAt(y); }
    void scrollTo(int32_t value, ScrollMode mode);
    // reset, prepare and a full update from position 0, when the notes change wholesale.
    void refresh();

    NoteImage* noteImage(int32_t index) const;
    int32_t selectedIndex() const { return view.selectedIndex; }
    int32_t clientWidth() const { return width(); }

    // Handlers of the controls.
    void b_ZoomUpClick();
    void b_ZoomDownClick();
    void sb_PositionScroll(int position);
    // The pitch readout of the row under the mouse.
    void FormMouseMove(int y);
    void noteMouseDown(NoteImage* image, Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint at);
    void noteMouseMove(NoteImage* image, Qt::MouseButtons buttons, QPoint at);
    void noteMouseUp(NoteImage* image);
    void openNoteEdit(NoteImage* image);
    // Applies a dialog or menu action to note `index`, recorded for undo.
    void applyAction(int32_t index, NoteAction action, int32_t percent);
    void deleteSelected();
    void undo();
    void redo();
    void popUpMenu(const QPoint& globalAt);

    // Exposed for the tests: the dialog of the next right click is handed here before it
    // is shown (null in the program).
    std::function<void(TfNoteEdit&)> dialogShown;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createHeader();
    void createFooter();
    void createMenu();
    void createShortcuts();
    void drawPlayMarker();
    void redraw();
    void drawNotes();
    void destroyNoteImages();
    void layOut();
    void zoomed();
    int32_t headerHeight() const;
    int32_t footerHeight() const;
    void tellPosition(int32_t ticks);
    bool noteExists(int32_t index) const;
    void commitAction(int32_t index, NoteAction action, int32_t percent, EditHistory::Snapshot before);
    void afterEdit(EditHistory::Snapshot before, int32_t startBefore);
    void afterHistoryStep();
    void refused(EditRefusal why);

    EditorHost& host_;
    EditHistory history_;
    EditHistory::Snapshot beforeDrag_;
    int32_t dragStartPitch_ = -1;
    int barPosition_ = 0;
    QImage grid_;
};
