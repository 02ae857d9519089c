// The main window on Qt's offscreen platform, on virtual wave devices and a capture MIDI
// device: start-up with and without settings, the controls as they start, a file take
// clicked through the window (live page, replayed page, button sets, labels), the dialogs,
// the note strip and the reposition of the diagram.

#include "MainWindowTestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

#include <fstream>

#include "app/HelpViewer.h"
#include "app/LevelMeter.h"
#include "skin/Checkimagebutton.h"
#include "skin/MainSkinLayout.h"
#include "skin/Skinform.h"

namespace {

// The window, keeping what each live column left on the diagram.
class WatchedWindow : public CaptureWindow {
public:
    using CaptureWindow::CaptureWindow;
    std::vector<int32_t> liveCounts;
    std::vector<std::string> noteLabelsAtBlankColumns;
    std::vector<std::string> times;
    int voicedLevels = 0;

    void addLiveColumn(const VoicedFrame* frame) override
    {
        TfMain::addLiveColumn(frame);
        liveCounts.push_back(diagram().data().count);
        const tag_drawcolumn& column = diagram().data().column[diagram().data().count - 1];
        if (frame == nullptr) {
            EXPECT_EQ(column.level, 0);
        }
    }
    void showLevel(const VoicedFrame* frame) override
    {
        TfMain::showLevel(frame);
        voicedLevels += frame != nullptr ? 1 : 0;
    }
    void setTimeLabel(const std::string& text) override
    {
        TfMain::setTimeLabel(text);
        times.push_back(text);
    }
    void setNoteLabel(const std::string& text) override
    {
        TfMain::setNoteLabel(text);
        if (!liveCounts.empty() && diagram().data().column[diagram().data().count - 1].level == 0)
            noteLabelsAtBlankColumns.push_back(text);
    }
};

class MainWindowTest : public WindowTest<WatchedWindow> {
protected:
    void settle() { settleWindow(); }
    std::string labelText(const char* name) { return window->label(name)->text().toStdString(); }
};

TEST_F(MainWindowTest, WithoutSettingsItAsksToCreateThemAndEndsOnlyWhenRefused)
{
    notifier.answer = MessageAnswer::No;
    window = std::make_unique<WatchedWindow>(driver);
    EXPECT_FALSE(window->startUp());
    ASSERT_EQ(notifier.boxes().size(), 2u);
    EXPECT_EQ(notifier.boxes()[0].second, "Please run Lirrosa Setup");
    EXPECT_FALSE(SettingsInstalled());

    notifier.answer = MessageAnswer::Yes;
    window = std::make_unique<WatchedWindow>(driver);
    EXPECT_TRUE(window->startUp());
    EXPECT_TRUE(SettingsInstalled());
    EXPECT_FALSE(window->skin()->Image().isNull());
    EXPECT_EQ(window->helpViewer()->folder().toStdString(), settingsStore.installPath + "Help/");
}

TEST_F(MainWindowTest, StartsWithTheControlsOfTheFaceInTheirPlaces)
{
    startWindow();
    EXPECT_EQ(window->windowTitle(), "Lirrosa");
    EXPECT_EQ(window->size(), QSize(548, 290));
    EXPECT_TRUE(window->skin()->Active());
    EXPECT_TRUE(window->testAttribute(Qt::WA_TranslucentBackground));
    for (const SkinControl& control : kMainSkinControls) {
        auto* widget = window->findChild<QWidget*>(control.name);
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->geometry(), QRect(control.left, control.top, control.width, control.height)) << control.name;
        if (auto* button = qobject_cast<TImageButton*>(widget)) {
            EXPECT_EQ(button->Region(), control.region) << control.name;
            EXPECT_EQ(button->QuorrEnabled(), control.quorrEnabled) << control.name;
            EXPECT_FALSE(button->Picture().isNull()) << control.name;
        }
    }
    EXPECT_EQ(window->lampLook(Lamp::Mic), kLampOn);
    EXPECT_EQ(window->lampLook(Lamp::File), kLookDisabled);
    EXPECT_EQ(window->lampLook(Lamp::Midi), kLampOn);
    EXPECT_EQ(window->lampLook(Lamp::Wave), kLookDisabled);
    EXPECT_EQ(window->buttonLook(MainButton::PlayNT), kLookDisabled);
    EXPECT_EQ(window->buttonLook(MainButton::PlayPB), kLookDisabled);
    EXPECT_EQ(labelText("i_Time"), "00:00:00");
    EXPECT_EQ(labelText("i_Input"), "mic");
    EXPECT_EQ(labelText("i_State"), "");
    EXPECT_FALSE(window->playMarker()->isVisible());
    EXPECT_EQ(window->display()->Tick(), 440);
    EXPECT_EQ(window->display()->Screen(), fpSpectrPage);
    // The hints name the keys that do the same.
    EXPECT_EQ(window->button(MainButton::Convert)->toolTip(), "Select MIC or FILE and click for conversion (Space)");
}

TEST_F(MainWindowTest, AFileTakeFillsALivePageThenShowsTheRecognisedTake)
{
    startWindow();
    convertFile(melodyFile(2));

    // 628 frames: a live page of 439 columns, cleared, then the rest.
    ASSERT_GE(window->liveCounts.size(), 600u);
    EXPECT_EQ(*std::max_element(window->liveCounts.begin(), window->liveCounts.end()), 439);
    EXPECT_EQ(window->liveCounts[439], 1);
    // Unvoiced frames blank the note label.
    ASSERT_FALSE(window->noteLabelsAtBlankColumns.empty());
    for (const std::string& text : window->noteLabelsAtBlankColumns)
        EXPECT_EQ(text, "");

    // The take is recognised and the page is drawn again from the start, in full.
    ConversionController& controller = window->controller();
    EXPECT_TRUE(controller.isStopped());
    EXPECT_EQ(noteNumbers(controller.notes()).size(), 2 * kMelodyNotes.size());
    EXPECT_EQ(window->diagram().data().count, 440);
    EXPECT_GT(window->diagram().data().column[0].noteColour + window->diagram().data().column[20].noteColour, 0);
    EXPECT_EQ(labelText("i_Input"), "file: melody2.wav");
    EXPECT_EQ(labelText("i_State"), "");
    EXPECT_EQ(labelText("i_Time"), "00:00:00");
    EXPECT_TRUE(window->playMarker()->isVisible());

    // The stopped set with a take.
    for (MainButton b : {MainButton::Convert, MainButton::Play, MainButton::SaveAs, MainButton::Export,
                         MainButton::Finish, MainButton::PlayPB, MainButton::PlayNT, MainButton::Edit})
        EXPECT_TRUE(window->buttonEnabled(b)) << static_cast<int>(b);
    EXPECT_EQ(window->buttonLook(MainButton::Convert), kLookEnabled);
    EXPECT_EQ(window->buttonLook(MainButton::PlayPB), kLookChecked);
    EXPECT_EQ(window->button(MainButton::Play)->graphicsEffect(), nullptr);

    // Finish chooses the notes.
    click(window->button(MainButton::Finish));
    EXPECT_EQ(window->buttonLook(MainButton::PlayNT), kLookChecked);
    EXPECT_EQ(window->buttonLook(MainButton::PlayPB), kLookEnabled);
}

TEST_F(MainWindowTest, ACancelledFileDialogKeepsThePreviousTake)
{
    startWindow();
    convertFile(melodyFile(1));
    const int32_t notesBefore = window->controller().notes().count;
    ASSERT_GT(notesBefore, 0);

    answerFileDialog("");
    click(window->button(MainButton::Convert));
    settle();
    EXPECT_TRUE(window->controller().isStopped());
    EXPECT_EQ(window->controller().notes().count, notesBefore);
    EXPECT_EQ(window->buttonLook(MainButton::Convert), kLookEnabled);
    EXPECT_TRUE(window->buttonEnabled(MainButton::Convert));
    EXPECT_TRUE(window->buttonEnabled(MainButton::Play));
}

TEST_F(MainWindowTest, WithTheDiagramDisabledTheTimeAndTheMeterStillMove)
{
    startWindow();
    window->settings()->cb_Draw_RT_Off->setChecked(true);
    convertFile(melodyFile(1));
    EXPECT_TRUE(window->liveCounts.empty());
    // The page after the take is not drawn either; the time was shown for every frame.
    EXPECT_EQ(window->diagram().data().count, 0);
    // A frame lasts 618 / 22050 s: some frame's time falls in 8.00 .. 8.03 s.
    EXPECT_NE(std::find_if(window->times.begin(), window->times.end(),
                           [](const std::string& t) { return t.rfind("00:08:0", 0) == 0; }),
              window->times.end());
    EXPECT_GE(window->times.size(), 300u);
    EXPECT_GT(window->voicedLevels, 200);
}

TEST_F(MainWindowTest, NoteStripClicksMoveTheMarkerOnlyWhenStopped)
{
    startWindow();
    convertFile(melodyFile(1));
    ConversionController& controller = window->controller();
    const NoteSequence& notes = controller.notes();
    ASSERT_GE(notes.count, 3);
    const float ticksPerFrame = controller.midiOut().ticksPerFrame;
    const NoteEvent& third = notes[2];
    const int column = static_cast<int>(std::ceil((third.start + third.duration / 2) / ticksPerFrame));

    // Below the strip nothing happens.
    pressOn(window->display(), QPoint(column, kDisplayPitchHeight + 5));
    EXPECT_EQ(controller.currentPosition(), 0);

    pressOn(window->display(), QPoint(column, 5));
    const int32_t start = static_cast<int32_t>(third.start / ticksPerFrame);
    EXPECT_EQ(controller.currentPosition(), start);
    EXPECT_EQ(window->playMarker()->x(), kDisplayLeft + start);

    // During a take (a microphone take on the silent virtual input) a click does nothing.
    click(window->button(MainButton::Mic));
    click(window->button(MainButton::Convert));
    ASSERT_FALSE(controller.isStopped());
    // The buttons of a running take.
    for (MainButton b : {MainButton::Convert, MainButton::Play, MainButton::Wave, MainButton::Midi, MainButton::Mic,
                         MainButton::File, MainButton::SaveAs, MainButton::Export, MainButton::Finish,
                         MainButton::Edit, MainButton::PlayNT, MainButton::PlayPB})
        EXPECT_FALSE(window->buttonEnabled(b)) << static_cast<int>(b);
    EXPECT_EQ(window->buttonLook(MainButton::PlayNT), kLookEnabled);
    EXPECT_EQ(window->buttonLook(MainButton::PlayPB), kLookEnabled);
    EXPECT_NE(window->button(MainButton::SaveAs)->graphicsEffect(), nullptr);
    EXPECT_EQ(labelText("i_State"), "conversion");
    EXPECT_EQ(labelText("i_Input"), "mic");
    const int32_t during = controller.currentPosition();
    pressOn(window->display(), QPoint(column, 5));
    EXPECT_EQ(controller.currentPosition(), during);
    click(window->button(MainButton::Stop));
    settle();
}

TEST_F(MainWindowTest, RepositioningPastTheTakeShowsOnlyTheMarker)
{
    startWindow();
    convertFile(melodyFile(1));
    ConversionController& controller = window->controller();
    const float ticksPerFrame = controller.midiOut().ticksPerFrame;
    const int32_t lastFrame = controller.notes().raw->last()->frame;

    // Into the middle of the take: the page holds its raw frames from the page's start.
    window->SetDiagramPosition(0, 100, 0);
    settle();
    EXPECT_EQ(window->diagram().pageStart(), 0);
    ASSERT_LT(lastFrame, 440);
    EXPECT_GE(window->diagram().data().count, lastFrame + 1);
    EXPECT_GT(window->diagram().data().column[lastFrame].level, 0);
    EXPECT_EQ(window->playMarker()->x(), kDisplayLeft + 100);

    // A page after the last raw frame and the last note: no bars, no marks.
    const int32_t beyond = 2 * 440 + 17;
    window->SetDiagramPosition(0, static_cast<int32_t>(beyond * ticksPerFrame) + 1, 2);
    settle();
    EXPECT_EQ(window->diagram().pageStart(), 2 * 440);
    EXPECT_EQ(window->diagram().data().count, 0);
    EXPECT_EQ(controller.currentPosition(), beyond);
    EXPECT_EQ(window->playMarker()->x(), kDisplayLeft + 17);
}

TEST_F(MainWindowTest, PlayWithoutAPlaybackTypeSaysSoAndStops)
{
    startWindow();
    convertFile(melodyFile(1));
    // The echo is off after convertFile: neither MIDI nor WAVE is chosen.
    click(window->button(MainButton::Play));
    const auto boxes = notifier.boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().second, "Playback type not specified!");
    EXPECT_TRUE(window->controller().isStopped());
    EXPECT_EQ(window->buttonLook(MainButton::Play), kLookEnabled);
    EXPECT_TRUE(window->buttonEnabled(MainButton::Convert));
}

TEST_F(MainWindowTest, PlaysTheNotesOnTheMidiOutputAndStopsAtTheEnd)
{
    startWindow();
    convertFile(melodyFile(1));
    click(window->button(MainButton::Finish));
    click(window->button(MainButton::Midi));
    ASSERT_EQ(window->lampLook(Lamp::Midi), kLampOn);
    click(window->button(MainButton::Play));
    ConversionController& controller = window->controller();
    ASSERT_FALSE(controller.isStopped());
    EXPECT_EQ(labelText("i_State"), "playback");
    EXPECT_FALSE(window->buttonEnabled(MainButton::Convert));
    // The capture device's clock runs only when moved: play the whole list.
    for (int i = 0; i < 2000 && !controller.isStopped(); ++i) {
        midi.clock.advance(20000);
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(controller.isStopped());
    size_t noteOns = 0;
    for (const CapturedMidiMessage& message : midi.log.messages())
        noteOns += (message.status() & 0xF0) == 0x90 && message.data2() > 0 ? 1 : 0;
    EXPECT_GE(noteOns, kMelodyNotes.size());
    EXPECT_TRUE(window->buttonEnabled(MainButton::Convert));
    EXPECT_EQ(labelText("i_State"), "");
}

TEST_F(MainWindowTest, WithoutAMicrophoneItSaysSoAndAFileTakeStillWorks)
{
    startWindow();
    driver.removeDevices();
    click(window->button(MainButton::Convert));
    settle();
    ASSERT_FALSE(notifier.boxes().empty());
    EXPECT_EQ(notifier.boxes().back().second.rfind("No microphone can be opened (", 0), 0u)
        << notifier.boxes().back().second;
    EXPECT_TRUE(window->controller().isStopped());
    EXPECT_EQ(window->buttonLook(MainButton::Convert), kLookEnabled);

    convertFile(melodyFile(1));
    EXPECT_EQ(noteNumbers(window->controller().notes()), kMelodyNotes);
}

TEST_F(MainWindowTest, ARefusedFileIsExplainedInOneSentence)
{
    startWindow();
    const std::string notWave = (folder / "notes.wav").string();
    std::ofstream(notWave) << std::string(100, 'x');
    const size_t boxesBefore = notifier.boxes().size();
    convertFile(notWave);
    ASSERT_EQ(notifier.boxes().size(), boxesBefore + 1);
    EXPECT_EQ(notifier.boxes().back().second,
              "This file cannot be converted: the file is not an audio file that can be read (WAV, AIFF, FLAC, "
              "Ogg Vorbis or Opus, MP3).");
    EXPECT_EQ(window->controller().notes().count, 0);
}

TEST_F(MainWindowTest, TakesTheSettingsWindowsChoicesFromTheStoredSettings)
{
    installSettings();
    std::string metronome = "0260";
    ASSERT_TRUE(RegAccessString(true, "Metron", metronome, kSettingsKey));
    int32_t value = 1;
    ASSERT_TRUE(RegAccessInteger(true, "DisableSaveRem", value, kSettingsKey));
    value = 0;
    ASSERT_TRUE(RegAccessInteger(true, "MergeSPD", value, kSettingsKey));
    value = 1;
    ASSERT_TRUE(RegAccessInteger(true, "Engine", value, kSettingsKey));
    value = 2;
    ASSERT_TRUE(RegAccessInteger(true, "WidthDVC", value, kSettingsKey));
    value = 99;
    ASSERT_TRUE(RegAccessInteger(true, "WavInDev", value, kSettingsKey));
    value = 200;
    ASSERT_TRUE(RegAccessInteger(true, "Tempo", value, kSettingsKey));

    window = std::make_unique<WatchedWindow>(driver);
    ASSERT_TRUE(window->startUp());
    EXPECT_FALSE(window->metronomeEnabled());
    EXPECT_EQ(window->metronomeNote(), kSideStickNote);
    EXPECT_EQ(window->metronomeVolume(), 60);
    EXPECT_TRUE(window->dontRemindOfSaving());
    EXPECT_FALSE(window->mergeShortPitchDeviations());
    EXPECT_EQ(window->recognitionEngine(), RecognitionEngine::Precise);
    EXPECT_EQ(window->display()->TickWidth(), 2);
    EXPECT_EQ(window->display()->Tick(), 220);
    // An index past the device list chooses the system's default.
    EXPECT_EQ(window->waveInEntry(), 0);
    EXPECT_EQ(songSettings.tempo, 200);
}

TEST_F(MainWindowTest, HelpShowsTheTopicsAndAboutShowsTheVersion)
{
    startWindow();
    click(window->findChild<TImageButton*>("ibtn_Help"));
    EXPECT_TRUE(window->helpViewer()->isVisible());
    EXPECT_TRUE(window->helpViewer()->shownFile().endsWith("/Help/index.html"));
    window->helpViewer()->showTopic(kHelpMainWindow);
    EXPECT_TRUE(window->helpViewer()->shownFile().endsWith("/Help/main.html"));
    for (int context : {kHelpSettings, kHelpExport, kHelpNoteEdit})
        EXPECT_TRUE(window->helpViewer()->showTopic(context)) << context;

    QString shown;
    QTimer::singleShot(50, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        shown = box->text();
        box->accept();
    });
    click(window->findChild<TImageButton*>("ibtn_About"));
    EXPECT_TRUE(shown.contains("Lirrosa " LIRROSA_TEST_VERSION)) << shown.toStdString();
    EXPECT_TRUE(shown.contains("FluidSynth"));
}

TEST(SaveChoice, ATypedEndingChoosesTheKindWhicheverFilterIsShown)
{
    EXPECT_EQ(saveChoiceFor("/t/a.mid", false).kind, SaveKind::Midi);
    EXPECT_EQ(saveChoiceFor("/t/a.MID", false).kind, SaveKind::Midi);
    EXPECT_EQ(saveChoiceFor("/t/a.wav", true).kind, SaveKind::Wave);
    EXPECT_EQ(saveChoiceFor("/t/a", true).kind, SaveKind::Midi);
    EXPECT_EQ(saveChoiceFor("/t/a", false).kind, SaveKind::Wave);
    EXPECT_EQ(saveChoiceFor("/t/a.mid", false).name, "/t/a.mid");
}

TEST_F(MainWindowTest, APlaceOffEveryScreenIsMovedOntoTheScreen)
{
    startWindow();
    window->placeAt(40, 30);
    EXPECT_EQ(window->pos(), QPoint(40, 30));
    window->placeAt(-5000, 9000);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window->geometry().center()));
}

} // namespace
