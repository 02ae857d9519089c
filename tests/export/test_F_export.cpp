// The export window and the online window on Qt's offscreen platform, on virtual wave
// devices and a capture MIDI device: the ringtone page after a take, Listen's ringtone
// preview and the tempo bar, the RTTTL text saved and copied, the score read back by mido,
// the accompaniment program, and the online window against the reference service.

#include "../gui/MainWindowTestSupport.h"
#include "ReferenceService.h"


#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTcpServer>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "export/F_export.h"
#include "export/F_inet.h"
#include "export/SiblingProgram.h"


namespace {

// Processes events until `done` holds or `ms` pass.
template <typename Condition>
bool waitFor(Condition done, int ms = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// The pitch classes of an RTTTL text's notes, read by a parser of its own, with repeats
// in a row collapsed (a long note may be written as several whole notes). Empty when a
// note command is malformed.
std::vector<int> rtttlPitchClasses(const std::string& text)
{
    const size_t first = text.find(':');
    const size_t second = text.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos)
        return {};
    static const std::regex command("(1|2|4|8|16|32)?(p|[a-g]#?)([4-7])?");
    static const std::vector<std::string> names = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};
    std::vector<int> classes;
    std::stringstream notes(text.substr(second + 1));
    std::string token;
    while (std::getline(notes, token, ',')) {
        std::smatch match;
        if (!std::regex_match(token, match, command))
            return {};
        if (match[2] == "p")
            continue;
        const int pitchClass = static_cast<int>(std::find(names.begin(), names.end(), match[2].str()) - names.begin());
        if (classes.empty() || classes.back() != pitchClass)
            classes.push_back(pitchClass);
    }
    return classes;
}


class ExportWindowTest : public WindowTest<> {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        installSettings();
    }

    // The window after a file take of the example melody, its export window shown.
    void takeAndOpenExport()
    {
        startWindow();
        if (window->lampLook(Lamp::Midi) == kLampOn)
            clickOn(window->button(MainButton::Midi), QPoint(2, 2));
        clickOn(window->button(MainButton::File), QPoint(2, 2));
        answerFileDialog(QString::fromStdString(melodyFile()));
        clickOn(window->button(MainButton::Convert), QPoint(2, 2));
        ASSERT_TRUE(waitFor([this] { return window->controller().isStopped() && window->controller().notes().count > 0; }));
        clickOn(window->button(MainButton::Export), QPoint(2, 2));
        dialog = window->exportDialog();
        ASSERT_TRUE(dialog->isVisible());
    }

    template <typename Widget>
    Widget* control(const char* name)
    {
        auto* widget = dialog->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void press(const char* name) { control<QAbstractButton>(name)->click(); }
    std::string noteText() { return control<QPlainTextEdit>("m_NoteSeq")->toPlainText().toStdString(); }
    std::string defaultsText() { return control<QLineEdit>("e_Defaults")->text().toStdString(); }

    // A registry that knows the accompaniment program under `root`, in a folder with `program`.
    std::filesystem::path installSibling(const std::string& root, const std::string& program)
    {
        const std::filesystem::path at = folder / "kestrova";
        std::filesystem::create_directories(at);
        const std::filesystem::path file = at / program;
        std::ofstream(file) << "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/started\"\n";
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
        std::ofstream(folder / "registry.reg", std::ios::app)
            << "\r\n[HKEY_LOCAL_MACHINE\\" << root.substr(1) << "Settings]\r\n\"InstallPath\"=\"" << at.string()
            << "/\"\r\n";
        return at;
    }

    TfExport* dialog = nullptr;
};

TEST_F(ExportWindowTest, AfterATakeTheRingtonePageShowsTheRecognisedRingtone)
{
    takeAndOpenExport();
    EXPECT_EQ(dialog->windowTitle(), "Export to ...");
    EXPECT_EQ(control<QTabWidget>("pc_Export")->currentIndex(), kRingTonePage);
    const RingtoneDefaults expected = RingtoneFromRecognition(ringtoneSettings);
    EXPECT_EQ(defaultsText(), ringtoneDefaultsText(expected));
    EXPECT_NE(defaultsText().find("b=125"), std::string::npos);

    // The RTTTL text holds the name, the defaults and the recognised melody.
    const std::string text = noteText();
    ASSERT_EQ(text.rfind("melody:", 0), 0u) << text;
    std::vector<int> classes;
    for (int note : noteNumbers(window->controller().notes()))
        if (classes.empty() || classes.back() != note % 12)
            classes.push_back(note % 12);
    EXPECT_EQ(rtttlPitchClasses(text), classes) << text;

    // The tempo bar: the defaults text, the hint and the RTTTL text follow it.
    auto* tempo = control<QSlider>("cb_Tempo");
    tempo->setValue(0);
    EXPECT_NE(defaultsText().find("b=25,"), std::string::npos);
    EXPECT_EQ(tempo->toolTip(), "25");
    tempo->setValue(31);
    EXPECT_NE(defaultsText().find("b=900,"), std::string::npos);
    EXPECT_NE(noteText().find("b=900,"), std::string::npos);

    // A new take clears the text, puts the bar back and hides the window.
    window->exportPrepareForTake();
    EXPECT_EQ(noteText(), "");
    EXPECT_EQ(tempo->value(), kDefaultRingtoneTempoIndex);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(ExportWindowTest, ListenPreviewsTheRingtoneAndTheTempoBarRetimesIt)
{
    takeAndOpenExport();
    auto* listen = control<QPushButton>("b_Play");
    listen->click();
    EXPECT_EQ(dialog->listenTag(), kListenRingtone);
    EXPECT_EQ(listen->text(), "Stop");
    EXPECT_EQ(window->buttonLook(MainButton::PlayNT), kLookChecked);
    MidiOut& out = window->controller().midiOut();
    ASSERT_TRUE(waitFor([&] { return out.isPlaying.load(); }));
    // The stream starts at the song's tempo and takes the ringtone's with its first events.
    EXPECT_TRUE(waitFor([&] { return out.usPerQuarter.load() == 480000; })); // 125 beats per minute

    control<QSlider>("cb_Tempo")->setValue(0);
    EXPECT_EQ(out.usPerQuarter, 2400000); // 25 beats per minute, at once
    EXPECT_TRUE(waitFor([this] {
        midi.clock.advance(10'000);
        for (const CapturedMidiMessage& m : midi.log.messages())
            if ((m.status() & 0xF0) == 0x90)
                return true;
        return false;
    }));

    listen->click();
    EXPECT_TRUE(waitFor([this] { return window->controller().isStopped(); }));
    EXPECT_EQ(dialog->listenTag(), kListenIdle);
    EXPECT_EQ(listen->text(), "Listen");

    // From the score page Listen plays the notes as they are (once the stopped stream has ended).
    ASSERT_TRUE(waitFor([&] { return !out.isPlaying.load() && !out.isOpen && window->buttonEnabled(MainButton::Play); }));
    control<QTabWidget>("pc_Export")->setCurrentIndex(kMidiScorePage);
    listen->click();
    EXPECT_EQ(dialog->listenTag(), kListenNotes);
    EXPECT_FALSE(window->exportListenFromRingtonePage());
    listen->click();
    EXPECT_TRUE(waitFor([this] { return window->controller().isStopped(); }));
}

TEST_F(ExportWindowTest, TheRtttlTextIsSavedAndCopied)
{
    takeAndOpenExport();
    const std::filesystem::path saved = folder / "tune";
    answerFileDialog(QString::fromStdString(saved.string()));
    press("b_SaveText");
    std::ifstream in(saved.string() + ".rtttl");
    ASSERT_TRUE(in.good());
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, noteText());
    press("b_CopyText");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), noteText());
}

TEST_F(ExportWindowTest, TheScoreCarriesTheMeterAndTheLeadingRest)
{
    takeAndOpenExport();
    control<QTabWidget>("pc_Export")->setCurrentIndex(kMidiScorePage);
    control<QLineEdit>("e_Nom")->setText("3");
    for (const char* name : {"l_Pause", "e_pNom", "l_pDiv", "e_pDen"})
        EXPECT_FALSE(control<QWidget>(name)->isEnabled()) << name;
    press("cb_OffBeat");
    for (const char* name : {"l_Pause", "e_pNom", "l_pDiv", "e_pDen"})
        EXPECT_TRUE(control<QWidget>(name)->isEnabled()) << name;
    control<QLineEdit>("e_pNom")->setText("1");

    const std::string path = (folder / "score.mid").string();
    answerFileDialog(QString::fromStdString(path));
    press("b_Ok");
    ASSERT_EQ(dialog->exportFilePath(), path);

    const std::string script = "import mido,sys\nf=mido.MidiFile(sys.argv[1])\nt=0\nsig=None\n"
                               "for m in mido.merge_tracks(f.tracks):\n t+=m.time\n"
                               " if m.type=='time_signature' and sig is None: sig=(m.numerator,m.denominator)\n"
                               " if m.type=='note_on' and m.velocity>0: print(sig[0],sig[1],t,f.ticks_per_beat); break\n";
    const std::string command = "/usr/bin/python3 -c \"" + script + "\" " + path;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    int num = 0, den = 0, firstNote = -1, tpqn = 0;
    EXPECT_EQ(std::fscanf(pipe, "%d %d %d %d", &num, &den, &firstNote, &tpqn), 4);
    ::pclose(pipe);
    EXPECT_EQ(num, 3);
    EXPECT_EQ(den, 4);
    EXPECT_EQ(firstNote, tpqn); // a quarter's rest before the first note
}

TEST_F(ExportWindowTest, TheAccompanimentProgramIsFoundStartedOrOfferedForDownload)
{
    takeAndOpenExport();
    EXPECT_FALSE(control<QPushButton>("b_Arrang")->isEnabled());
    EXPECT_FALSE(control<QLabel>("l_DownloadExpr")->isHidden());
    EXPECT_FALSE(control<QLabel>("l_url")->isHidden());

    // Installed later, under the older root with the older program: found on the next show.
    const std::filesystem::path at = installSibling(kOlderSiblingRoot, kOlderSiblingProgramName);
    dialog->hide();
    dialog->show();
    EXPECT_TRUE(control<QPushButton>("b_Arrang")->isEnabled());
    EXPECT_TRUE(control<QLabel>("l_DownloadExpr")->isHidden());
    EXPECT_EQ(dialog->sibling().path, at.string() + "/" + kOlderSiblingProgramName);

    const std::string score = (folder / "arranged.mid").string();
    answerFileDialog(QString::fromStdString(score));
    press("b_Arrang");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(at / "started"); }));
    std::string argument;
    EXPECT_TRUE(waitFor([&] {
        std::ifstream in(at / "started");
        std::getline(in, argument);
        return argument == score;
    }));

    // A program that cannot be started.
    std::filesystem::permissions(at / kOlderSiblingProgramName, std::filesystem::perms::owner_read);
    answerFileDialog(QString::fromStdString((folder / "again.mid").string()));
    press("b_Arrang");
    ASSERT_FALSE(notifier.boxes().empty());
    EXPECT_EQ(notifier.boxes().back().second, kExportFileErrorText);
}

TEST_F(ExportWindowTest, TheDeliveryOptionsFollowTheChecksAndTheService)
{
    takeAndOpenExport();
    press("cb_RTTTL"); // neither form: no e-mail, nothing to receive
    EXPECT_FALSE(control<QCheckBox>("cb_Email")->isChecked());
    EXPECT_FALSE(control<QPushButton>("b_Buy")->isEnabled());
    press("cb_Email");
    EXPECT_TRUE(control<QCheckBox>("cb_RTTTL")->isChecked());
    EXPECT_FALSE(control<QCheckBox>("cb_SMS")->isEnabled());

    control<QLineEdit>("e_MailTo")->setText("@example.org");
    press("b_Buy");
    ASSERT_FALSE(notifier.boxes().empty());
    EXPECT_EQ(notifier.boxes().back().second, kInvalidMailText);

    // A service that offers RTTTL and SMS.
    settingsStore.deliveryOptions = 5;
    dialog->hide();
    dialog->show();
    EXPECT_TRUE(control<QCheckBox>("cb_SMS")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>("cb_MIDI")->isEnabled());
    press("cb_SMS");
    EXPECT_TRUE(control<QLineEdit>("e_PhoneN")->isEnabled());
    control<QLineEdit>("e_MailTo")->setText("u@example.org");
    control<QLineEdit>("e_PhoneN")->setText("1305 555");
    press("b_Buy");
    EXPECT_EQ(notifier.boxes().back().second, kInvalidPhoneText);
}

class OnlineWindowTest : public ExportWindowTest {
protected:
    void useService(const std::string& uri)
    {
        settingsStore.url = "127.0.0.1:" + std::to_string(service.port());
        settingsStore.uri = uri;
    }
    std::string status(TfInet& online) { return online.findChild<QLineEdit*>("l_Status")->text().toStdString(); }
    std::string message(TfInet& online) { return online.findChild<QLabel*>("l_Msg")->text().toStdString(); }
    QPushButton* go(TfInet& online) { return online.findChild<QPushButton*>("b_Go"); }

    ReferenceService service;
};

TEST_F(OnlineWindowTest, TheServiceAnswersWithTheRingtoneAndNewOptions)
{
    takeAndOpenExport();
    ASSERT_NE(service.port(), 0);
    useService("/rtc?dvropt=5&update=Version%202%23%23is%20out");
    control<QLineEdit>("e_MailTo")->setText("u@example.org");
    TfInet online(*dialog);
    online.b_GoClick();
    EXPECT_EQ(online.goTag(), kGoRunning);
    EXPECT_EQ(go(online)->text(), "Stop");
    EXPECT_TRUE(dialog->requestPending());
    ASSERT_TRUE(waitFor([&] { return status(online) == "Done"; })) << status(online);
    // The service's own RTTTL text of the package: the same name, defaults and melody.
    const std::string answer = message(online);
    EXPECT_EQ(answer.rfind("melody:d=8,", 0), 0u) << answer;
    EXPECT_EQ(rtttlPitchClasses(answer.substr(0, answer.find('\n'))), rtttlPitchClasses(noteText())) << answer;
    EXPECT_FALSE(rtttlPitchClasses(noteText()).empty());
    EXPECT_FALSE(go(online)->isEnabled());
    EXPECT_EQ(online.goTag(), kGoReady);
    EXPECT_FALSE(dialog->requestPending());
    EXPECT_EQ(settingsStore.deliveryOptions, 5u);
    ASSERT_FALSE(notifier.boxes().empty());
    EXPECT_EQ(notifier.boxes().back().second, "Version 2\n\tis out");
    std::string stored;
    EXPECT_TRUE(RegAccessString(false, "LastMailTo", stored, "Info"));
    EXPECT_EQ(stored, "u@example.org");
}

TEST_F(OnlineWindowTest, StopDuringTheAnimationAndANetworkErrorLeaveGoReady)
{
    takeAndOpenExport();
    ASSERT_NE(service.port(), 0);
    useService("/rtc?delay=5");
    TfInet online(*dialog);
    online.b_GoClick();
    ASSERT_TRUE(waitFor([&] { return status(online).find(" ***") != std::string::npos; }));
    online.b_GoClick();
    EXPECT_EQ(status(online), kStoppedByUserText);
    EXPECT_EQ(go(online)->text(), "Go");
    EXPECT_EQ(online.goTag(), kGoReady);
    EXPECT_FALSE(online.animation().isActive());
    EXPECT_FALSE(dialog->requestPending());

    // A port nothing listens on.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    settingsStore.url = "127.0.0.1:" + std::to_string(closed.serverPort());
    closed.close();
    TfInet again(*dialog);
    again.b_GoClick();
    ASSERT_TRUE(waitFor([&] { return status(again) == "Error: Network error"; })) << status(again);
    EXPECT_TRUE(go(again)->isEnabled());
    EXPECT_EQ(go(again)->text(), "Go");
}

TEST_F(OnlineWindowTest, WithoutAServiceAddressNothingIsSent)
{
    takeAndOpenExport();
    settingsStore.url.clear();
    TfInet online(*dialog);
    online.b_GoClick();
    EXPECT_EQ(message(online), kNoServiceAddressText);
    EXPECT_EQ(online.goTag(), kGoReady);
    EXPECT_FALSE(dialog->requestPending());
}

} // namespace
