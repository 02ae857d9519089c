// The note editor over the main window on Qt's offscreen platform, on virtual wave devices
// and a capture MIDI device: opened by Edit after a take, its note images, dragging a note
// with the audition on the MIDI output, the note edit dialog, the note menu, undo and redo,
// the selection from the voice diagram, saving the edited notes and opening a MIDI file.

#include "../gui/MainWindowTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>

#include "editor/F_noteedit.h"
#include "midi/MidiTime.h"
#include "midi/SmfReader.h"
#include "notes/NoteNames.h"
#include "skin/MainSkinLayout.h"

namespace {

struct Sounded {
    uint8_t note;
    uint8_t velocity;
};

class EditorTest : public WindowTest<> {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        startWindow();
    }

    // A file take of the example melody without echo, recognised, with the notes chosen,
    // and the editor opened by its button.
    void takeAndEdit()
    {
        convertFile(melodyFile());
        click(window->button(MainButton::Finish));
        ASSERT_GE(notes().count, 3);
        click(window->button(MainButton::Edit));
        settle();
        editor = window->editor();
        ASSERT_TRUE(editor->isVisible());
    }

    void settle() { settleWindow(); }

    NoteSequence& notes() { return window->controller().notes(); }

    // The notes sounded (note on with a velocity) and ended (velocity 0) on the capture device.
    std::vector<Sounded> sounded()
    {
        std::vector<Sounded> out;
        for (const CapturedMidiMessage& m : midi.log.messages())
            if ((m.status() & 0xF0) == 0x90)
                out.push_back(Sounded{m.data1(), m.data2()});
        return out;
    }

    // Answers the next note edit dialog with `answer` once it is shown.
    void answerNoteEdit(std::function<void(TfNoteEdit&)> answer)
    {
        editor->dialogShown = [answer](TfNoteEdit& dialog) {
            QTimer::singleShot(0, &dialog, [answer, &dialog] {
                answer(dialog);
                if (dialog.isVisible())
                    dialog.reject();
            });
        };
    }

    TfDisplay* editor = nullptr;
};

} // namespace

TEST_F(EditorTest, EditShowsTheNotesBelowTheMainWindowAndHidesAgain)
{
    takeAndEdit();
    EXPECT_EQ(editor->windowTitle(), "Edit");
    EXPECT_EQ(editor->size(), QSize(684, 344));
    EXPECT_EQ(editor->y(), window->frameGeometry().bottom() + 1);
    EXPECT_EQ(editor->view.middleY, 170);
    EXPECT_FALSE(editor->imgHeader->pixmap().isNull());
    EXPECT_FALSE(editor->b_ZoomUp->pixmap().isNull());

    // One image per note in view, placed by its start, pitch and duration.
    const NoteEvent& first = notes()[0];
    NoteImage* image = editor->noteImage(0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Tag, 0);
    EXPECT_EQ(image->geometry(), QRect(first.start * 2 * 16 / 480, editor->view.rowTop(first.note),
                                       first.duration * 2 * 16 / 480, 6));
    EXPECT_EQ(image->toolTip().toStdString(), noteName(first.note));
    EXPECT_EQ(editor->view.lastDrawn, notes().count);

    click(window->button(MainButton::Edit));
    EXPECT_FALSE(editor->isVisible());
    // A take hides it too.
    click(window->button(MainButton::Edit));
    ASSERT_TRUE(editor->isVisible());
    click(window->button(MainButton::Mic));
    click(window->button(MainButton::Convert));
    EXPECT_FALSE(editor->isVisible());
    click(window->button(MainButton::Stop));
    settle();
}

TEST_F(EditorTest, DraggingANoteUpOneRowSoundsTheNewPitchAndUndoBringsItBack)
{
    takeAndEdit();
    const int32_t index = 2;
    const uint8_t pitch = notes()[index].note;
    const uint8_t velocity = notes()[index].velocity;
    NoteImage* image = editor->noteImage(index);
    ASSERT_NE(image, nullptr);
    const int top = image->y();

    pressOn(image, QPoint(3, 3));
    EXPECT_EQ(editor->selectedIndex(), index);
    EXPECT_EQ(editor->auditionNote, pitch);
    // Two pixels up: the middle of the image is still in its row.
    moveOver(image, QPoint(3, -2), Qt::LeftButton);
    EXPECT_EQ(notes()[index].note, pitch);
    // Two more: the middle crosses into the row above.
    moveOver(image, QPoint(3, -2), Qt::LeftButton);
    EXPECT_EQ(notes()[index].note, pitch + 1);
    EXPECT_EQ(editor->auditionNote, pitch + 1u);
    releaseOn(image, QPoint(3, 0));
    EXPECT_EQ(image->y(), top - 6);
    EXPECT_EQ(editor->auditionNote, 0u);
    EXPECT_EQ(editor->l_Pitch->text().toStdString(), noteName(pitch + 1));
    std::vector<Sounded> played = sounded();
    for (int i = 0; i < 500 && played.size() < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        played = sounded();
    }
    ASSERT_EQ(played.size(), 4u);
    EXPECT_EQ(played[0].note, pitch);
    EXPECT_EQ(played[0].velocity, velocity);
    EXPECT_EQ(played[1].note, pitch);
    EXPECT_EQ(played[1].velocity, 0);
    EXPECT_EQ(played[2].note, pitch + 1);
    EXPECT_EQ(played[2].velocity, velocity);
    EXPECT_EQ(played[3].note, pitch + 1);
    EXPECT_EQ(played[3].velocity, 0);
    EXPECT_EQ(editor->l_BBT->text().toStdString(),
              formatBarBeatTick(notes()[index].start, 480, 4, 4, 1) + "  ");

    editor->undo();
    EXPECT_EQ(notes()[index].note, pitch);
    editor->redo();
    EXPECT_EQ(notes()[index].note, pitch + 1);
    // Finish recognises the take again: the edit is gone, and so is its history.
    click(window->button(MainButton::Finish));
    EXPECT_EQ(notes()[index].note, pitch);
    editor->undo();
    EXPECT_EQ(notes()[index].note, pitch);
}

TEST_F(EditorTest, TheDialogStepsAppliesSplitsAndCloseChangesNothing)
{
    takeAndEdit();
    const int32_t count = notes().count;
    const NoteEvent second = notes()[1];

    // The arrows and then "Close": nothing changes.
    answerNoteEdit([](TfNoteEdit& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Edit Note");
        EXPECT_TRUE(dialog.b_MergeB->isEnabled());
        dialog.ud_Pos->click(false);
        dialog.ud_Qnt->click(false);
        dialog.ud_Note->click(true);
        dialog.b_Cancel->click();
    });
    pressOn(editor->noteImage(1), QPoint(1, 1), Qt::RightButton);
    EXPECT_EQ(notes().count, count);
    EXPECT_EQ(notes()[1].start, second.start);
    EXPECT_EQ(notes()[1].note, second.note);

    // "Apply" writes the stepped values back.
    answerNoteEdit([](TfNoteEdit& dialog) {
        dialog.ud_Qnt->click(false);
        dialog.ud_Note->click(true);
        dialog.ud_Vel->click(false);
        EXPECT_EQ(dialog.e_Vel->text().toInt(), dialog.noteVelocity - 1);
        dialog.b_Ok->click();
    });
    pressOn(editor->noteImage(1), QPoint(1, 1), Qt::RightButton);
    EXPECT_EQ(notes()[1].duration, second.duration - 1);
    EXPECT_EQ(notes()[1].note, second.note + 1);
    EXPECT_EQ(notes()[1].velocity, second.velocity - 1);
    EXPECT_EQ(editor->noteImage(1)->toolTip().toStdString(), noteName(second.note + 1));

    // "Split" at a quarter.
    answerNoteEdit([](TfNoteEdit& dialog) {
        dialog.tb_Split->setValue(25);
        dialog.b_Split->click();
    });
    const int32_t duration = notes()[1].duration;
    pressOn(editor->noteImage(1), QPoint(1, 1), Qt::RightButton);
    ASSERT_EQ(notes().count, count + 1);
    EXPECT_EQ(notes()[1].duration, duration * 25 / 100);
    EXPECT_EQ(notes()[2].start, second.start + duration * 25 / 100);
    EXPECT_NE(editor->noteImage(count), nullptr);

    // The first note cannot merge with a previous one; "Delete" removes it.
    answerNoteEdit([](TfNoteEdit& dialog) {
        EXPECT_FALSE(dialog.b_MergeB->isEnabled());
        EXPECT_TRUE(dialog.b_MergeF->isEnabled());
        dialog.b_Delete->click();
    });
    pressOn(editor->noteImage(0), QPoint(1, 1), Qt::RightButton);
    EXPECT_EQ(notes().count, count);
    EXPECT_EQ(editor->selectedIndex(), -1);

    // Every edit undone, in turn, gives the recognised notes back.
    for (int i = 0; i < 3; ++i)
        editor->undo();
    EXPECT_EQ(notes().count, count);
    EXPECT_EQ(notes()[1].duration, second.duration);
    EXPECT_EQ(notes()[1].note, second.note);

    // A pitch beyond the arrows' range (from a file) survives an Apply of the velocity.
    notes()[1].note = 100;
    editor->refresh();
    answerNoteEdit([](TfNoteEdit& dialog) {
        dialog.ud_Vel->click(false);
        dialog.b_Ok->click();
    });
    pressOn(editor->noteImage(1), QPoint(1, 1), Qt::RightButton);
    EXPECT_EQ(notes()[1].note, 100);
    EXPECT_EQ(notes()[1].velocity, second.velocity - 1);
}

TEST_F(EditorTest, TheNoteMenuMergesWithTheNeighboursItHas)
{
    takeAndEdit();
    const int32_t count = notes().count;
    const int32_t last = count - 1;
    pressOn(editor->noteImage(last), QPoint(1, 1), Qt::LeftButton);
    releaseOn(editor->noteImage(last), QPoint(1, 1));
    std::vector<bool> enabled;
    QTimer::singleShot(0, editor, [this, &enabled] {
        for (QAction* action : editor->mnNote->actions())
            enabled.push_back(action->isEnabled());
        editor->mnNote->close();
    });
    editor->popUpMenu(QPoint(10, 10));
    EXPECT_EQ(enabled, (std::vector<bool>{true, true, true, false}));

    const int32_t before = notes()[last - 1].duration + notes()[last].duration;
    editor->applyAction(last, ActionMergePrevious, 0);
    EXPECT_EQ(notes().count, count - 1);
    EXPECT_EQ(notes()[last - 1].duration, before);
    EXPECT_EQ(editor->selectedIndex(), last - 1);
}

TEST_F(EditorTest, ZoomAndTheDiagramsNoteStripSelectAndScrollTheNoteIntoView)
{
    takeAndEdit();
    const QPoint inside(4, 4);
    pressOn(editor->b_ZoomUp, inside);
    pressOn(editor->b_ZoomUp, inside);
    pressOn(editor->b_ZoomUp, inside);
    EXPECT_EQ(editor->view.zoomX, 8);
    const int32_t last = notes().count - 1;
    const NoteEvent& note = notes()[last];
    ASSERT_GT(note.start * editor->view.pxPerTick, 684);
    EXPECT_EQ(editor->noteImage(last), nullptr);

    // A click on the note strip of the diagram over the last note.
    const float ticksPerFrame = window->controller().midiOut().ticksPerFrame;
    const int column = static_cast<int>(std::ceil((note.start + note.duration / 2) / ticksPerFrame));
    pressOn(window->display(), QPoint(column, 5));
    EXPECT_EQ(editor->selectedIndex(), last);
    EXPECT_EQ(editor->view.scrollPx, static_cast<int32_t>(note.start * editor->view.pxPerTick) - 342);
    ASSERT_NE(editor->noteImage(last), nullptr);
    // The left edge is kept in whole ticks: the note lies within a pixel of the middle.
    EXPECT_NEAR(editor->noteImage(last)->x(), 342, 1);
    EXPECT_GT(editor->sb_Position->value(), 0);
}

TEST_F(EditorTest, TheEditedNotesAreSavedAndASavedFileOpensForEditing)
{
    takeAndEdit();
    const int32_t count = notes().count;
    editor->applyAction(0, ActionSplit, 50);
    const std::string saved = (folder / "edited.mid").string();
    answerFileDialog(QString::fromStdString(saved));
    click(window->button(MainButton::SaveAs));
    SmfContents contents;
    std::string error;
    ASSERT_TRUE(readMidiFile(saved, contents, error)) << error;
    EXPECT_EQ(contents.notes.size(), static_cast<size_t>(count + 1));

    // Opened again: its notes are the current ones, in the editor, and can be saved.
    editor->hide();
    answerFileDialog(QString::fromStdString(saved));
    window->openMidiFile();
    settle();
    EXPECT_EQ(notes().count, count + 1);
    EXPECT_FALSE(notes().hasRawFrames());
    EXPECT_TRUE(editor->isVisible());
    EXPECT_NE(editor->noteImage(count), nullptr);
    EXPECT_TRUE(window->buttonEnabled(MainButton::Play));
    EXPECT_TRUE(window->buttonEnabled(MainButton::SaveAs));
    editor->applyAction(0, ActionDelete, 0);
    const std::string again = (folder / "again.mid").string();
    answerFileDialog(QString::fromStdString(again));
    click(window->button(MainButton::SaveAs));
    ASSERT_TRUE(readMidiFile(again, contents, error)) << error;
    EXPECT_EQ(contents.notes.size(), static_cast<size_t>(count));

    // A file that is not MIDI is explained and changes nothing.
    const std::string wrong = (folder / "melody1.wav").string();
    answerFileDialog(QString::fromStdString(wrong));
    window->openMidiFile();
    settle();
    EXPECT_EQ(notes().count, count);
    ASSERT_FALSE(notifier.boxes().empty());
    EXPECT_EQ(notifier.boxes().back().second.rfind("This MIDI file cannot be opened: ", 0), 0u);
}

TEST_F(EditorTest, DuringPlaybackTheMarkerFollowsAndNotesCannotBeChanged)
{
    takeAndEdit();
    // At the closest zoom the melody is wider than the window: the view pages.
    for (int i = 0; i < 3; ++i)
        editor->b_ZoomUpClick();
    click(window->button(MainButton::Midi));
    click(window->button(MainButton::Play));
    ConversionController& controller = window->controller();
    ASSERT_FALSE(controller.isStopped());
    ASSERT_TRUE(editor->isVisible());
    const uint8_t pitch = notes()[1].note;
    NoteImage* image = editor->noteImage(1);
    ASSERT_NE(image, nullptr);
    pressOn(image, QPoint(2, 2));
    moveOver(image, QPoint(2, -20), Qt::LeftButton);
    releaseOn(image, QPoint(2, 0));
    EXPECT_EQ(editor->selectedIndex(), -1);
    EXPECT_EQ(notes()[1].note, pitch);

    int32_t furthest = 0;
    int32_t pagedTo = 0;
    int barMoved = 0;
    for (int i = 0; i < 2000 && !controller.isStopped(); ++i) {
        midi.clock.advance(20000);
        QApplication::processEvents();
        furthest = std::max(furthest, editor->view.playTicks);
        pagedTo = std::max(pagedTo, editor->view.leftTicks);
        barMoved = std::max(barMoved, editor->sb_Position->value());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(controller.isStopped());
    EXPECT_GT(furthest, notes()[notes().count / 2].start);
    // A page starts where the marker reached the right edge: 684 pixels of 8 per 30 ticks.
    EXPECT_GE(pagedTo, 684 * 30 / 8 - 30);
    EXPECT_GT(barMoved, 0);
    EXPECT_EQ(editor->img_PlayPos->x(), editor->view.markerX);
}
