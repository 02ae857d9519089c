#pragma once
// The main window on a bench, for the tests of the program's windows: Qt's offscreen
// platform, a private registry file with the settings installed, virtual wave devices, a
// capture MIDI device chosen as the MIDI output, and the file dialogs answered as a user would.

#include "SkinTestSupport.h"
#include "../app/ControllerTestSupport.h"

#include <QFileDialog>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "app/F_main.h"
#include "settings/My_registry.h"
#include "settings/SetupInstaller.h"
#include "skin/Imagebutton.h"

// Answers the next file dialog once it shows: chooses `path`, or cancels when it is empty.
inline void answerFileDialog(const QString& path)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        poll->deleteLater();
        poll->stop();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    poll->start(5);
}

inline void click(TImageButton* button)
{
    clickOn(button, QPoint(2, 2));
}

// Lets Qt handle what the window has posted to itself.
inline void settleWindow()
{
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
}

// The main window that plays on a MIDI device of the test's own, which no device list shows.
class CaptureWindow : public TfMain {
public:
    using TfMain::TfMain;
    // The MIDI output list entry the controller opens; -1 leaves the choice to the settings.
    int32_t midiOutChoice = -1;
    int32_t midiOutEntry() const override { return midiOutChoice >= 0 ? midiOutChoice : TfMain::midiOutEntry(); }
};

// A fresh folder with the test's registry file (never the user's own), virtual wave devices
// and the capture MIDI device; the window is made by startWindow().
template <typename Window = CaptureWindow>
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureQtApplication();
        std::string pattern = (std::filesystem::temp_directory_path() / "lirrosa-window-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        setenv("LIRROSA_REGISTRY", (folder / "registry.reg").c_str(), 1);
        songSettings = SongSettings{};
        storedSongSettings = SongSettings{};
        settingsStore = SettingsStore{};
    }
    void TearDown() override
    {
        window.reset();
        std::filesystem::remove_all(folder);
    }

    void installSettings(const SetupOptions& options = {})
    {
        std::ostringstream out;
        std::ostringstream err;
        ASSERT_EQ(runSetup(options, LIRROSA_SOURCE_DIR "/", out, err), 0) << err.str();
    }

    // The window started on the settings (installed first unless they are), shown, with the
    // capture device as its MIDI output.
    void startWindow(WaveDriver& waves)
    {
        if (!SettingsInstalled())
            installSettings();
        window = std::make_unique<Window>(waves);
        ASSERT_TRUE(window->startUp());
        window->midiOutChoice = midi.listEntry();
        window->show();
    }
    void startWindow() { startWindow(driver); }

    // A wave file of the example melody `times` over.
    std::string melodyFile(int times = 1)
    {
        const std::vector<uint8_t> samples = melodySamples(times);
        const std::string path = (folder / ("melody" + std::to_string(times) + ".wav")).string();
        EXPECT_TRUE(WriteWaveFile(path, kMicrophoneFormat, static_cast<uint32_t>(samples.size()), samples.data()));
        return path;
    }

    // A file take without echo, through the window's buttons and the open dialog.
    void convertFile(const std::string& path)
    {
        if (window->lampLook(Lamp::Midi) == kLampOn)
            click(window->button(MainButton::Midi));
        if (window->lampLook(Lamp::File) != kLampOn)
            click(window->button(MainButton::File));
        answerFileDialog(QString::fromStdString(path));
        click(window->button(MainButton::Convert));
        settleWindow();
    }

    std::filesystem::path folder;
    ScriptedNotifier notifier;
    SampleSource source{kMicrophoneFormat, {}};
    VirtualWaveDriver driver{&source};
    CaptureMidi<ManualMidiClock> midi;
    std::unique_ptr<Window> window;
};
