#pragma once
// TfExport: the "Export to ..." tool window. The "RingTone" page shows the ringtone made
// from the recognised notes (song name, defaults text, the RTTTL text with Save and Copy,
// the tempo bar) and the delivery options of the online service; the "MIDI Score" page
// writes the melody as a score for the accompaniment program and starts that program.
// "Listen" previews the melody through the main window's playback. The values come from
// and go to the export units; this window only moves them between its controls and those.

#include <QWidget>

#include <string>

#include "export/DeliveryRequest.h"
#include "export/DeliverySettings.h"
#include "export/Rtttl_writer.h"
#include "export/SiblingProgram.h"

class MidiOut;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTabWidget;

// What the export window needs of the main window.
class ExportHost {
public:
    virtual ~ExportHost() = default;
    // Chooses MIDI playback of the recognised notes on the main window and plays them.
    virtual void exportPlay() = 0;
    // The main window's Stop.
    virtual void exportStop() = 0;
    virtual MidiOut& exportMidiOut() = 0;
    // Shows the settings window's MIDI page next to `beside`, or hides the window when it shows.
    virtual void toggleMidiSettings(QWidget* beside) = 0;
    virtual void showHelpTopic(int context) = 0;
};

// The tags of "Listen": idle, a preview of the notes, a ringtone preview.
inline constexpr int kListenIdle = 0;
inline constexpr int kListenNotes = 1;
inline constexpr int kListenRingtone = 3;

inline constexpr int kRingTonePage = 0;
inline constexpr int kMidiScorePage = 1;

class TfExport : public QWidget {
public:
    explicit TfExport(ExportHost& host, QWidget* parent = nullptr);

    // The notes the window works on (the main window's); null when there are none.
    void setNotes(const NoteSequence* notes) { notes_ = notes; }
    const NoteSequence* notes() const { return notes_; }

    // A recognition filled the ringtone settings: the defaults and the texts follow.
    void RingtoneFromRecognition();
    // A new take starts: the RTTTL text is cleared, the tempo bar goes back to 125 beats
    // per minute, a request under way is forgotten and the window hides.
    void prepareForTake();
    // Playback stopped: "Listen" is ready again.
    void resetListen();
    int listenTag() const { return listenTag_; }

    // Handlers of the controls.
    void b_PlayClick();
    void cb_TempoChange(int position);
    void b_SaveTextClick();
    void b_CopyTextClick();
    void cb_OffBeatClick();
    void b_OkClick();
    void b_ArrangClick();
    void cb_SMSClick();
    void cb_EmailClick();
    void cb_RTTTLClick();
    void l_PhoneNSClick();
    void b_BuyClick();

    // The ringtone page's values of a request, and the request-pending flag.
    RingtoneRequest ringtoneRequest() const;
    bool requestPending() const { return requestPending_; }
    void setRequestPending(bool pending) { requestPending_ = pending; }

    const RingtoneDefaults& defaults() const { return defaults_; }
    const SiblingProgram& sibling() const { return sibling_; }
    const std::string& exportFilePath() const { return exportPath_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* createRingTonePage();
    QWidget* createDeliveryGroup();
    QWidget* createMidiScorePage();
    void refreshNoteText();
    DeliveryChoice deliveryChoice() const;
    void showDeliveryChoice(const DeliveryChoice& choice);
    void refreshDeliveryControls();
    void lookUpSibling();
    // Writes the score where the user chooses; true when a file was written.
    bool exportScore();

    ExportHost& host_;
    const NoteSequence* notes_ = nullptr;
    RingtoneDefaults defaults_;
    SiblingProgram sibling_;
    std::string exportPath_;
    int listenTag_ = kListenIdle;
    bool requestPending_ = false;

    QTabWidget* pages_;
    QLineEdit* songName_;
    QLineEdit* defaultsText_;
    QPlainTextEdit* noteText_;
    QSlider* tempo_;
    QCheckBox* useDottedNotes_;
    QCheckBox* sms_;
    QLabel* phoneLabel_;
    QLineEdit* phone_;
    QCheckBox* email_;
    QLabel* mailLabel_;
    QLineEdit* mailTo_;
    QCheckBox* rtttl_;
    QCheckBox* midi_;
    QPushButton* buy_;
    QLineEdit* nom_;
    QLineEdit* den_;
    QCheckBox* offBeat_;
    QLabel* pauseLabel_;
    QLineEdit* pauseNom_;
    QLabel* pauseDiv_;
    QLineEdit* pauseDen_;
    QPushButton* arrange_;
    QLabel* downloadHint_;
    QLabel* url_;
    QPushButton* play_;
};
