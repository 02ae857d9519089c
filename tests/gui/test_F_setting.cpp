// The settings dialog on Qt's offscreen platform, hosted by the main window on named
// virtual wave devices and a capture MIDI device: the controls from the stored settings, the
// device-entry rule and the stable device names, the instrument list and its fallback, the
// edits, the octave bend during playback, "Set Default" per page, the diagram width and the
// showing and hiding. With a private sound server (PULSE_SERVER set): devices that come
// while the dialog is open, and a stored choice after the server lists its devices anew.

#include "MainWindowTestSupport.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/HelpViewer.h"
#include "platform/PulseWaveDriver.h"
#include "settings/F_setting.h"
#include "skin/Checkimagebutton.h"
#include "skin/Mfd.h"
#include "skin/Skinform.h"

namespace {

// Wave devices listed by name, as a sound server lists them; a device can be made unreadable
// (empty name). Opening works as the virtual driver's.
class NamedWaveDriver : public VirtualWaveDriver {
public:
    using VirtualWaveDriver::VirtualWaveDriver;
    std::vector<std::string> inputs{"Desk microphone", "Headset"};
    std::vector<std::string> outputs{"Speakers"};

    uint32_t inputCount() override { return static_cast<uint32_t>(inputs.size()); }
    std::string inputName(uint32_t id) override { return id < inputs.size() ? inputs[id] : ""; }
    std::string inputKey(uint32_t id) override { return id < inputs.size() ? "key:" + inputs[id] : ""; }
    uint32_t outputCount() override { return static_cast<uint32_t>(outputs.size()); }
    std::string outputName(uint32_t id) override { return id < outputs.size() ? outputs[id] : ""; }
    std::string outputKey(uint32_t id) override { return id < outputs.size() ? "key:" + outputs[id] : ""; }
};

std::vector<std::string> entries(const QListWidget* list)
{
    std::vector<std::string> texts;
    for (int i = 0; i < list->count(); ++i)
        texts.push_back(list->item(i)->text().toStdString());
    return texts;
}

// Keys typed into an edit, as the keyboard sends them.
void type(QLineEdit* edit, const QString& keys)
{
    for (const QChar key : keys) {
        QKeyEvent press(QEvent::KeyPress, key.isDigit() ? Qt::Key_0 + key.digitValue() : Qt::Key_A, Qt::NoModifier,
                        QString(key));
        QApplication::sendEvent(edit, &press);
    }
}

void backspace(QLineEdit* edit, int times)
{
    for (int i = 0; i < times; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QString(QChar(8)));
        QApplication::sendEvent(edit, &press);
    }
}

// Every value of the settings as the registry holds them now.
std::map<std::string, std::string> storedValues()
{
    std::map<std::string, std::string> values;
    for (size_t i = 0; i < kSettingDefinitionCount; ++i) {
        const SettingDefinition& definition = kSettingDefinitions[i];
        if (definition.isText) {
            std::string text;
            RegAccessString(false, definition.name, text, definition.subkey);
            values[definition.name] = text;
        } else {
            int32_t value = 0;
            RegAccessInteger(false, definition.name, value, definition.subkey);
            values[definition.name] = std::to_string(value);
        }
    }
    return values;
}

class SettingsDialogTest : public WindowTest<> {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        // An installation of its own, so that a test can change its instrument list.
        SetupOptions options;
        options.installPath = (folder / "install").string() + "/";
        installSettings(options);
    }

    void store(const char* name, int32_t value) { ASSERT_TRUE(RegAccessInteger(true, name, value, kSettingsKey)); }
    void store(const char* name, std::string text) { ASSERT_TRUE(RegAccessString(true, name, text, kSettingsKey)); }

    TfSetting& start(WaveDriver& waves)
    {
        startWindow(waves);
        return *window->settings();
    }
    TfSetting& start() { return start(named); }

    // A file take of the example melody without echo, through the window's buttons.
    void convertMelody()
    {
        convertFile(melodyFile());
        ASSERT_TRUE(window->controller().notes().hasRawFrames());
    }

    std::filesystem::path instrumentFile() const { return folder / "install" / "data" / "gmi.txt"; }

    NamedWaveDriver named{&source};
};

TEST_F(SettingsDialogTest, ItStartsFromTheStoredSettingsWithAutoFirstInEachDeviceList)
{
    store("Tempo", 90);
    store("Vol", 64);
    store("OctShift", -1);
    store("TPQN", 240);
    store("Patch", 0);
    store("Metron", "0275");
    TfSetting& dialog = start();

    EXPECT_EQ(dialog.windowTitle(), "Settings...");
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(dialog.skin()->Active());
    EXPECT_FALSE(dialog.skin()->Image().isNull());
    ASSERT_EQ(dialog.pc_Settings->count(), 3);
    EXPECT_EQ(dialog.pc_Settings->tabText(0), "General");
    EXPECT_EQ(dialog.pc_Settings->tabText(1), "WAVE");
    EXPECT_EQ(dialog.pc_Settings->tabText(2), "MIDI");

    EXPECT_EQ(entries(dialog.lb_IWD), (std::vector<std::string>{"Auto", "Desk microphone", "Headset"}));
    EXPECT_EQ(entries(dialog.lb_OWD), (std::vector<std::string>{"Auto", "Speakers"}));
    EXPECT_EQ(entries(dialog.lb_OMD)[0], "Auto");
    EXPECT_EQ(entries(dialog.lb_OMD)[1], "Built-in synthesiser (FluidSynth)");
    EXPECT_EQ(dialog.lb_IWD->currentRow(), 0);

    EXPECT_EQ(dialog.e_Tempo->text(), "90");
    EXPECT_EQ(dialog.e_Volume->text(), "64");
    EXPECT_EQ(dialog.e_Octave->text(), "-1");
    EXPECT_EQ(dialog.e_tpqn->text(), "240");
    EXPECT_EQ(songSettings.tempo, 90);
    EXPECT_EQ(songSettings.recordTempo, 90);
    EXPECT_EQ(dialog.ud_Octave->minimum(), -3);
    EXPECT_EQ(dialog.ud_Octave->maximum(), 3);
    EXPECT_EQ(dialog.up_tpqn->minimum(), 48);
    EXPECT_EQ(dialog.up_tpqn->maximum(), 960);
    EXPECT_EQ(dialog.ud_Tempo->maximum(), 500);

    // The installed list names the 128 programs; patch 0 is its first entry.
    EXPECT_EQ(dialog.lb_Instr->count(), 128);
    EXPECT_EQ(dialog.lb_Instr->currentRow(), 0);
    EXPECT_FALSE(dialog.lb_Instr->item(0)->text().isEmpty());

    // Metronome "0275": off, side stick, volume 75; the controller reads the same.
    EXPECT_FALSE(dialog.cb_MetronOn->isChecked());
    EXPECT_TRUE(dialog.rb_SideCick->isChecked());
    EXPECT_EQ(dialog.e_MetrVol->text(), "75");
    EXPECT_EQ(window->metronomeNote(), kSideStickNote);
    EXPECT_EQ(window->metronomeVolume(), 75);
    EXPECT_TRUE(dialog.cb_FDO_m8bs->isChecked());
    EXPECT_FALSE(dialog.cb_Draw_RT_Off->isChecked());
}

TEST_F(SettingsDialogTest, TheDiagramWidthComesFromWidthDVCAndFollowsItsCheckBox)
{
    for (const auto& [stored, width] : std::vector<std::pair<int32_t, int>>{{0, 1}, {5, 1}, {2, 2}}) {
        store("WidthDVC", stored);
        TfSetting& dialog = start();
        EXPECT_EQ(window->display()->TickWidth(), width) << stored;
        EXPECT_EQ(dialog.cb_DblVDC->isChecked(), width == 2) << stored;
    }
    TfSetting& dialog = *window->settings();
    dialog.cb_DblVDC->click();
    EXPECT_EQ(window->display()->TickWidth(), 1);
    EXPECT_EQ(window->display()->Tick(), 440);
    dialog.cb_DblVDC->click();
    EXPECT_EQ(window->display()->Tick(), 220);
}

TEST_F(SettingsDialogTest, AStoredDeviceIsFoundByItsNameElseByItsIndexWithinTheList)
{
    store("WavInDev", 3);
    EXPECT_EQ(start().lb_IWD->currentRow(), 0);
    EXPECT_EQ(window->waveInEntry(), 0);

    store("WavInDev", 2);
    EXPECT_EQ(start().lb_IWD->currentItem()->text(), "Headset");

    // The device's own name wins over an index that now points elsewhere.
    store("WavInDevName", "key:Headset");
    named.inputs = {"Headset", "USB microphone", "Desk microphone"};
    EXPECT_EQ(start().lb_IWD->currentItem()->text(), "Headset");
    EXPECT_EQ(window->waveInEntry(), 1);

    // A named device that is not there leaves "Auto" and is chosen again once it is back.
    named.inputs = {"Desk microphone"};
    TfSetting& dialog = start();
    EXPECT_EQ(dialog.lb_IWD->currentRow(), 0);
    named.inputs = {"Desk microphone", "Headset"};
    dialog.refreshDeviceLists();
    EXPECT_EQ(dialog.lb_IWD->currentItem()->text(), "Headset");

    // A choice made in the list follows its device when the list changes.
    dialog.lb_IWD->setCurrentRow(1);
    named.inputs = {"Alpha", "Desk microphone", "Headset"};
    dialog.refreshDeviceLists();
    EXPECT_EQ(dialog.lb_IWD->currentItem()->text(), "Desk microphone");

    // A device whose name cannot be read.
    named.inputs = {"Desk microphone", ""};
    dialog.refreshDeviceLists();
    EXPECT_EQ(entries(dialog.lb_IWD), (std::vector<std::string>{"Auto", "Desk microphone", "Driver not found for 2"}));
}

TEST_F(SettingsDialogTest, AnEmptyOrMissingInstrumentListGivesTheNumbers)
{
    std::ofstream(instrumentFile()).close();
    store("Patch", 9);
    TfSetting& dialog = start();
    const std::vector<std::string> list = entries(dialog.lb_Instr);
    ASSERT_EQ(list.size(), 128u);
    EXPECT_EQ(list.front(), "1");
    EXPECT_EQ(list.back(), "128");
    EXPECT_EQ(dialog.lb_Instr->currentItem()->text(), "10");
    dialog.lb_Instr->scrollToTop();
    clickOn(dialog.lb_Instr->viewport(), dialog.lb_Instr->visualItemRect(dialog.lb_Instr->item(0)).center());
    EXPECT_EQ(songSettings.patch, 0);

    // Without the file the start goes on after saying which file is missing.
    std::filesystem::remove(instrumentFile());
    const size_t boxes = notifier.boxes().size();
    TfSetting& again = start();
    ASSERT_EQ(notifier.boxes().size(), boxes + 1);
    EXPECT_EQ(notifier.boxes().back().second, "Cannot open file " + instrumentFile().string());
    EXPECT_EQ(again.lb_Instr->count(), 128);
    EXPECT_EQ(again.programOfEntry(127), 127);
}

TEST_F(SettingsDialogTest, EditsTakeDigitsOnlyAndTheirValuesStayInRange)
{
    TfSetting& dialog = start();
    dialog.e_Tempo->setFocus();
    dialog.e_Tempo->end(false);
    type(dialog.e_Tempo, "ab");
    EXPECT_EQ(dialog.e_Tempo->text(), "120");
    EXPECT_EQ(songSettings.tempo, 120);
    backspace(dialog.e_Tempo, 3);
    EXPECT_EQ(songSettings.tempo, 10);
    type(dialog.e_Tempo, "999");
    EXPECT_EQ(songSettings.tempo, 500);

    dialog.e_Volume->selectAll();
    type(dialog.e_Volume, "200");
    EXPECT_EQ(songSettings.volume, 127);
    dialog.up_tpqn->step(1);
    EXPECT_EQ(dialog.e_tpqn->text(), "504");
    EXPECT_EQ(songSettings.tpqn, 504);
    dialog.e_MetrVol->selectAll();
    type(dialog.e_MetrVol, "90");
    EXPECT_EQ(window->metronomeVolume(), 90);
}

TEST_F(SettingsDialogTest, TheOctaveShiftBendsTheNotesOnlyDuringPlayback)
{
    TfSetting& dialog = start();
    const auto bends = [this] {
        std::vector<CapturedMidiMessage> found;
        for (const CapturedMidiMessage& message : midi.log.messages())
            if ((message.status() & 0xF0) == 0xE0)
                found.push_back(message);
        return found;
    };
    dialog.ud_Octave->step(-1);
    dialog.ud_Octave->step(-1);
    EXPECT_EQ(songSettings.octaveShift, -2);
    EXPECT_TRUE(bends().empty());
    dialog.ud_Octave->setPosition(0);

    // A file take, then its raw notes played on the capture device.
    convertMelody();
    clickOn(window->button(MainButton::Midi), QPoint(2, 2));
    clickOn(window->button(MainButton::Play), QPoint(2, 2));
    // The player thread starts the stream.
    for (int i = 0; i < 2000 && !window->midiOut().isPlaying; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(window->midiOut().isPlaying);
    const size_t before = bends().size();
    dialog.ud_Octave->step(-1);
    dialog.ud_Octave->step(-1);
    const int expected = static_cast<int>(-24 * window->midiOut().bendUnitsPerSemitone + 8192);
    bool bent = false;
    for (size_t i = before; i < bends().size(); ++i)
        bent = bent || (bends()[i].data1() | (bends()[i].data2() << 7)) == expected;
    EXPECT_TRUE(bent) << expected;
    clickOn(window->button(MainButton::Stop), QPoint(2, 2));
}

TEST_F(SettingsDialogTest, SetDefaultStoresOnlyThePageThatIsShowing)
{
    TfSetting& dialog = start();
    const std::map<std::string, std::string> before = storedValues();
    dialog.lb_IWD->setCurrentRow(2);
    dialog.e_Tempo->setText("150");
    dialog.pc_Settings->setCurrentIndex(TfSetting::kPageWave);
    dialog.b_SetAsDef->click();
    std::map<std::string, std::string> after = storedValues();
    EXPECT_EQ(after["WavInDev"], "2");
    EXPECT_EQ(after["WavInDevName"], "key:Headset");
    EXPECT_EQ(after["WavOutDev"], "0");
    for (const char* name : {"WavInDev", "WavInDevName"})
        after[name] = before.at(name);
    EXPECT_EQ(after, before);

    // General: an enabled side-stick click at volume 90 is stored as 1290.
    dialog.rb_SideCick->setChecked(true);
    dialog.e_MetrVol->setText("90");
    dialog.cb_SaveCurData_Off->setChecked(true);
    dialog.cb_PreciseEngine->setChecked(true);
    dialog.pc_Settings->setCurrentIndex(TfSetting::kPageGeneral);
    dialog.b_SetAsDef->click();
    after = storedValues();
    EXPECT_EQ(after["Metron"], "1290");
    EXPECT_EQ(after["DisableSaveRem"], "1");
    EXPECT_EQ(after["Engine"], "1");
    EXPECT_EQ(after["Tempo"], "120");

    dialog.pc_Settings->setCurrentIndex(TfSetting::kPageMidi);
    dialog.lb_OMD->setCurrentRow(1);
    dialog.b_SetAsDef->click();
    after = storedValues();
    EXPECT_EQ(after["Tempo"], "150");
    EXPECT_EQ(after["MidiOutDev"], "1");
    EXPECT_EQ(after["MidiOutDevName"], "builtin");
    EXPECT_EQ(storedSongSettings.tempo, 150);
}

TEST_F(SettingsDialogTest, TheButtonsOfBothWindowsShowAndHideItBesideThem)
{
    TfSetting& dialog = start();
    window->move(400, 100);
    clickOn(window->findChild<TImageButton*>("ibtn_Setting"), QPoint(2, 2));
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.frameGeometry().right() + 1, window->frameGeometry().left());
    EXPECT_EQ(dialog.frameGeometry().top(), window->frameGeometry().top());
    clickOn(window->findChild<TImageButton*>("ibtn_Setting"), QPoint(2, 2));
    EXPECT_FALSE(dialog.isVisible());

    // No room on the left: beside the right edge.
    window->move(10, 100);
    clickOn(window->findChild<TImageButton*>("ibtn_In"), QPoint(2, 2));
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.pc_Settings->currentIndex(), TfSetting::kPageWave);
    EXPECT_EQ(dialog.frameGeometry().left(), window->frameGeometry().right() + 1);
    // "Playback Settings" with the MIDI echo chosen turns to the MIDI page, then hides.
    clickOn(window->findChild<TImageButton*>("ibtn_Out"), QPoint(2, 2));
    EXPECT_EQ(dialog.pc_Settings->currentIndex(), TfSetting::kPageMidi);
    clickOn(window->findChild<TImageButton*>("ibtn_Out"), QPoint(2, 2));
    EXPECT_FALSE(dialog.isVisible());

    // The export dialog's "MIDI Settings", twice.
    QWidget exportDialog;
    exportDialog.setGeometry(600, 300, 300, 200);
    exportDialog.show();
    dialog.pc_Settings->setCurrentIndex(TfSetting::kPageGeneral);
    dialog.toggleBesideExportDialog(exportDialog);
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.pc_Settings->currentIndex(), TfSetting::kPageMidi);
    EXPECT_EQ(dialog.frameGeometry().right() + 1, exportDialog.frameGeometry().left());
    dialog.toggleBesideExportDialog(exportDialog);
    EXPECT_FALSE(dialog.isVisible());

    dialog.b_Help->click();
    EXPECT_TRUE(window->helpViewer()->shownFile().endsWith("/Help/settings.html"));
}

TEST_F(SettingsDialogTest, MergeShortPitchDeviationsRecognisesTheTakeAgain)
{
    TfSetting& dialog = start();
    dialog.cb_FDO_m8bs->click();
    EXPECT_FALSE(window->mergeShortPitchDeviations());

    convertMelody();
    EXPECT_NE(window->buttonLook(MainButton::PlayNT), kLookChecked);
    dialog.cb_FDO_m8bs->click();
    EXPECT_TRUE(window->mergeShortPitchDeviations());
    EXPECT_EQ(window->buttonLook(MainButton::PlayNT), kLookChecked);
    EXPECT_GE(window->controller().notes().count, 1);
}

// ---- On the private sound server ----

class SoundServerDialogTest : public SettingsDialogTest {
protected:
    void SetUp() override
    {
        if (getenv("PULSE_SERVER") == nullptr)
            GTEST_SKIP() << "no sound server (PULSE_SERVER is not set); run through scripts/with-sound-server.sh";
        SettingsDialogTest::SetUp();
    }
    void TearDown() override
    {
        window.reset();
        for (const std::string& module : modules)
            std::system(("pactl unload-module " + module).c_str());
        SettingsDialogTest::TearDown();
    }

    // Loads a null sink; its module number is unloaded at the end.
    std::string loadSink(const std::string& name, const std::string& description)
    {
        const std::string command = "pactl load-module module-null-sink sink_name=" + name +
                                    " sink_properties=device.description=" + description;
        std::string number;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char line[64] = {};
            if (fgets(line, sizeof line, pipe) != nullptr)
                number = std::string(line).substr(0, std::string(line).find('\n'));
            pclose(pipe);
        }
        EXPECT_FALSE(number.empty()) << command;
        modules.push_back(number);
        return number;
    }
    void unload(const std::string& module)
    {
        EXPECT_EQ(std::system(("pactl unload-module " + module).c_str()), 0);
        modules.erase(std::find(modules.begin(), modules.end(), module));
    }

    // Waits for the dialog to show `text` in the output list (or not).
    bool outputListed(TfSetting& dialog, const std::string& text, bool listed)
    {
        for (int i = 0; i < 500; ++i) {
            const std::vector<std::string> shown = entries(dialog.lb_OWD);
            if ((std::find(shown.begin(), shown.end(), text) != shown.end()) == listed)
                return true;
            QApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    PulseWaveDriver pulse;
    std::vector<std::string> modules;
};

TEST_F(SoundServerDialogTest, ASinkLoadedWhileTheDialogIsOpenIsListedAndGoesWhenUnloaded)
{
    TfSetting& dialog = start(pulse);
    window->ibtn_SettingClick();
    ASSERT_TRUE(outputListed(dialog, "Lirrosa_extra", false));
    const std::string module = loadSink("lirrosa_extra", "Lirrosa_extra");
    EXPECT_TRUE(outputListed(dialog, "Lirrosa_extra", true));
    unload(module);
    EXPECT_TRUE(outputListed(dialog, "Lirrosa_extra", false));
}

TEST_F(SoundServerDialogTest, TheStoredOutputIsFoundAgainWhenTheServerListsItElsewhere)
{
    const std::string studio = loadSink("lirrosa_studio", "Studio");
    TfSetting& dialog = start(pulse);
    const std::vector<std::string> shown = entries(dialog.lb_OWD);
    const int entry = static_cast<int>(std::find(shown.begin(), shown.end(), "Studio") - shown.begin());
    ASSERT_LT(entry, dialog.lb_OWD->count());
    dialog.lb_OWD->setCurrentRow(entry);
    dialog.pc_Settings->setCurrentIndex(TfSetting::kPageWave);
    dialog.b_SetAsDef->click();
    window.reset();

    // The server starts its devices anew, with one more before the chosen one.
    unload(studio);
    loadSink("lirrosa_added", "Added");
    loadSink("lirrosa_studio", "Studio");
    TfSetting& again = start(pulse);
    ASSERT_NE(again.lb_OWD->currentItem(), nullptr);
    EXPECT_EQ(again.lb_OWD->currentItem()->text(), "Studio");
    EXPECT_EQ(again.lb_OWD->currentRow(), entry + 1);
}

} // namespace
