#include "export/F_export.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSaveFile>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include "export/F_inet.h"
#include "export/RingtoneTempo.h"
#include "export/ScoreExport.h"
#include "platform/UserNotifier.h"
#include "settings/My_registry.h"

namespace {

const char* const kCaption = "Export to ...";
const char* const kTextFilter = "RTTTL ringtone (*.rtttl);;Text (*.txt)";
constexpr int kHelpExportTopic = 4;
// The frame's buttons have the classic button size, at fixed distances from the window's
// edges, so that their places do not depend on the font.
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kFrameMargin = 8;
constexpr int kButtonSpacing = 6;

template <typename Widget>
Widget* named(Widget* widget, const char* name)
{
    widget->setObjectName(name);
    return widget;
}

QLineEdit* digitsEdit(const char* name, const char* text, int maxLength)
{
    auto* edit = named(new QLineEdit(text), name);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    edit->setFixedWidth(32);
    return edit;
}

std::string text(const QLineEdit* edit)
{
    return edit->text().toStdString();
}

void showBox(const std::string& message, const std::string& caption, MessageIcon icon)
{
    userNotifier().show(message, caption, icon, MessageButtons::Ok);
}

} // namespace

TfExport::TfExport(ExportHost& host, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), host_(host)
{
    setObjectName("fExport");
    setWindowTitle(kCaption);

    pages_ = named(new QTabWidget, "pc_Export");
    pages_->addTab(createRingTonePage(), "RingTone");
    pages_->addTab(createMidiScorePage(), "MIDI Score");

    auto* ok = named(new QPushButton("Export"), "b_Ok");
    play_ = named(new QPushButton("Listen"), "b_Play");
    auto* help = named(new QPushButton("Help"), "b_Help");
    auto* close = named(new QPushButton("Close"), "b_Cancel");
    connect(ok, &QPushButton::clicked, this, [this] { b_OkClick(); });
    connect(play_, &QPushButton::clicked, this, [this] { b_PlayClick(); });
    connect(help, &QPushButton::clicked, this, [this] { host_.showHelpTopic(kHelpExportTopic); });
    connect(close, &QPushButton::clicked, this, &QWidget::hide);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(kButtonSpacing);
    buttons->addWidget(ok);
    buttons->addStretch();
    buttons->addWidget(play_);
    buttons->addWidget(help);
    buttons->addWidget(close);
    for (QPushButton* button : {ok, play_, help, close})
        button->setFixedSize(kButtonWidth, kButtonHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kFrameMargin, kFrameMargin, kFrameMargin, kFrameMargin);
    layout->addWidget(pages_);
    layout->addLayout(buttons);
}

QWidget* TfExport::createRingTonePage()
{
    auto* page = new QWidget;
    songName_ = named(new QLineEdit(QString::fromStdString(kDefaultSongName)), "e_SongName");
    songName_->setMaxLength(15);
    connect(songName_, &QLineEdit::textEdited, this, [this] { refreshNoteText(); });
    defaultsText_ = named(new QLineEdit, "e_Defaults");
    defaultsText_->setText(QString::fromStdString(ringtoneDefaultsText(defaults_)));
    noteText_ = named(new QPlainTextEdit, "m_NoteSeq");
    noteText_->setReadOnly(true);
    QFont small = noteText_->font();
    small.setPointSize(8);
    noteText_->setFont(small);
    tempo_ = named(new QSlider(Qt::Horizontal), "cb_Tempo");
    tempo_->setRange(0, kRingtoneTempoCount - 1);
    tempo_->setSingleStep(1);
    tempo_->setPageStep(1);
    tempo_->setValue(kDefaultRingtoneTempoIndex);
    tempo_->setToolTip("Change Tempo");
    connect(tempo_, &QSlider::valueChanged, this, [this](int position) { cb_TempoChange(position); });

    auto* save = named(new QPushButton("&Save..."), "b_SaveText");
    auto* copy = named(new QPushButton("&Copy"), "b_CopyText");
    connect(save, &QPushButton::clicked, this, [this] { b_SaveTextClick(); });
    connect(copy, &QPushButton::clicked, this, [this] { b_CopyTextClick(); });
    auto* textButtons = new QHBoxLayout;
    textButtons->addStretch();
    textButtons->addWidget(save);
    textButtons->addWidget(copy);

    auto* asRtttl = named(new QCheckBox("RTTTL format", page), "cb_AsRTTTL");
    asRtttl->setChecked(true);
    asRtttl->setVisible(false);

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel("SongName"), 0, 0);
    fields->addWidget(songName_, 0, 1);
    fields->addWidget(new QLabel("Defaults"), 1, 0);
    fields->addWidget(defaultsText_, 1, 1);
    fields->addWidget(new QLabel("Tempo"), 2, 0);
    fields->addWidget(tempo_, 2, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(fields);
    layout->addWidget(new QLabel("Note Sequence  "));
    layout->addWidget(noteText_);
    layout->addLayout(textButtons);
    layout->addWidget(createDeliveryGroup());
    return page;
}

QWidget* TfExport::createDeliveryGroup()
{
    std::string mailTo;
    std::string phoneNumber;
    loadDeliveryFields(mailTo, phoneNumber);

    auto* group = new QGroupBox("Delivery options");
    sms_ = named(new QCheckBox("by SMS ( for supporting handsets )"), "cb_SMS");
    phoneLabel_ = named(new QLabel("Phone Number"), "l_PhoneN");
    phone_ = named(new QLineEdit(QString::fromStdString(phoneNumber)), "e_PhoneN");
    phone_->setMaxLength(12);
    auto* phoneHint = named(new QLabel("<a href=\"hint\">Entry hint</a>"), "l_PhoneNS");
    phoneHint->setToolTip(QString::fromStdString(kPhoneEntryHint));
    phoneHint->setCursor(Qt::PointingHandCursor);
    email_ = named(new QCheckBox("Receive free by e-mail in:"), "cb_Email");
    mailLabel_ = named(new QLabel("E-mail"), "l_MailTo");
    mailTo_ = named(new QLineEdit(QString::fromStdString(mailTo)), "e_MailTo");
    rtttl_ = named(new QCheckBox("RTTTL"), "cb_RTTTL");
    midi_ = named(new QCheckBox("MIDI "), "cb_MIDI");
    buy_ = named(new QPushButton("Receive Ringtone"), "b_Buy");
    useDottedNotes_ = named(new QCheckBox("Use Dotted Notes "), "cb_UseDotNote");
    showDeliveryChoice(DeliveryChoice{});

    connect(sms_, &QCheckBox::clicked, this, [this] { cb_SMSClick(); });
    connect(email_, &QCheckBox::clicked, this, [this] { cb_EmailClick(); });
    connect(rtttl_, &QCheckBox::clicked, this, [this] { cb_RTTTLClick(); });
    connect(midi_, &QCheckBox::clicked, this, [this] { cb_RTTTLClick(); });
    connect(phoneHint, &QLabel::linkActivated, this, [this] { l_PhoneNSClick(); });
    connect(buy_, &QPushButton::clicked, this, [this] { b_BuyClick(); });

    auto* layout = new QGridLayout(group);
    layout->addWidget(sms_, 0, 0, 1, 3);
    layout->addWidget(phoneLabel_, 1, 0);
    layout->addWidget(phone_, 1, 1);
    layout->addWidget(phoneHint, 1, 2);
    layout->addWidget(email_, 2, 0, 1, 3);
    layout->addWidget(mailLabel_, 3, 0);
    layout->addWidget(mailTo_, 3, 1, 1, 2);
    layout->addWidget(rtttl_, 4, 0);
    layout->addWidget(midi_, 4, 1);
    layout->addWidget(useDottedNotes_, 5, 0, 1, 2);
    layout->addWidget(buy_, 5, 2);
    refreshDeliveryControls();
    return group;
}

QWidget* TfExport::createMidiScorePage()
{
    auto* page = new QWidget;
    nom_ = digitsEdit("e_Nom", "4", 2);
    den_ = digitsEdit("e_Den", "4", 0);
    offBeat_ = named(new QCheckBox("Off Beat"), "cb_OffBeat");
    pauseLabel_ = named(new QLabel("Pause"), "l_Pause");
    pauseNom_ = digitsEdit("e_pNom", "4", 2);
    pauseDiv_ = named(new QLabel("/"), "l_pDiv");
    pauseDen_ = digitsEdit("e_pDen", "4", 0);
    auto* meterAutodetect = named(new QCheckBox("Meter Autodetect", page), "cb_SetMA");
    meterAutodetect->setVisible(false);
    auto* midiSettings = named(new QPushButton("MIDI Settings"), "b_MidiSettings");
    arrange_ = named(new QPushButton("Arrange"), "b_Arrang");
    arrange_->setEnabled(false);
    downloadHint_ = named(new QLabel(QString::fromStdString(kSiblingDownloadHint)), "l_DownloadExpr");
    downloadHint_->setWordWrap(true);
    const QString address = QString::fromStdString(settingsStore.url + kSiblingDownloadPage);
    url_ = named(new QLabel("<a href=\"" + address.toHtmlEscaped() + "\">" + address.toHtmlEscaped() + "</a>"),
                 "l_url");
    url_->setCursor(Qt::PointingHandCursor);
    cb_OffBeatClick();

    connect(offBeat_, &QCheckBox::clicked, this, [this] { cb_OffBeatClick(); });
    connect(midiSettings, &QPushButton::clicked, this, [this] { host_.toggleMidiSettings(this); });
    connect(arrange_, &QPushButton::clicked, this, [this] { b_ArrangClick(); });
    connect(url_, &QLabel::linkActivated, this, [](const QString& link) {
        OpenWebAddress(link.toStdString(), "Please start your web-browser\n\n and enter the following web-address \n ");
    });

    auto* meter = new QGridLayout;
    meter->addWidget(named(new QLabel("Set Meter"), "l_SetMeter"), 0, 0);
    meter->addWidget(nom_, 0, 1);
    meter->addWidget(named(new QLabel("/"), "l_Div"), 0, 2);
    meter->addWidget(den_, 0, 3);
    meter->addWidget(offBeat_, 1, 0, 1, 4);
    meter->addWidget(pauseLabel_, 2, 0);
    meter->addWidget(pauseNom_, 2, 1);
    meter->addWidget(pauseDiv_, 2, 2);
    meter->addWidget(pauseDen_, 2, 3);
    meter->setColumnStretch(4, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(midiSettings);
    buttons->addWidget(arrange_);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(meter);
    layout->addLayout(buttons);
    layout->addStretch();
    layout->addWidget(downloadHint_);
    layout->addWidget(url_);
    return page;
}

void TfExport::showEvent(QShowEvent* event)
{
    pages_->setCurrentIndex(kRingTonePage);
    refreshDeliveryControls();
    lookUpSibling();
    refreshNoteText();
    QWidget::showEvent(event);
}

// ---- RingTone page ----

void TfExport::RingtoneFromRecognition()
{
    defaults_ = ::RingtoneFromRecognition(ringtoneSettings);
    defaultsText_->setText(QString::fromStdString(ringtoneDefaultsText(defaults_)));
    refreshNoteText();
}

void TfExport::prepareForTake()
{
    notes_ = nullptr;
    noteText_->clear();
    tempo_->setValue(kDefaultRingtoneTempoIndex);
    requestPending_ = false;
    hide();
}

void TfExport::cb_TempoChange(int position)
{
    const std::string defaultsText = ringtoneTempoBarMoved(position, ringtoneSettings, defaults_, host_.exportMidiOut());
    tempo_->setToolTip(QString::number(defaults_.tempo));
    defaultsText_->setText(QString::fromStdString(defaultsText));
    refreshNoteText();
}

// The RTTTL text of the notes with the page's name and defaults; empty without notes.
void TfExport::refreshNoteText()
{
    if (notes_ == nullptr || notes_->count == 0)
        return;
    const std::string ringtone = rtttlText(*notes_, songSettings, ringtoneSettings, defaults_, text(songName_));
    noteText_->setPlainText(QString::fromStdString(ringtone));
}

void TfExport::b_SaveTextClick()
{
    const QString ringtone = noteText_->toPlainText();
    if (ringtone.isEmpty())
        return;
    const QString start = QString::fromStdString(settingsStore.workPath + rtttlName(text(songName_)) + ".rtttl");
    QString filter;
    QString name = QFileDialog::getSaveFileName(this, "Save the RTTTL text", start, kTextFilter, &filter);
    if (name.isEmpty())
        return;
    if (!name.endsWith(".rtttl") && !name.endsWith(".txt"))
        name += filter.startsWith("Text") ? ".txt" : ".rtttl";
    QSaveFile file(name);
    const QByteArray bytes = (ringtone + "\n").toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        showBox("The RTTTL text could not be saved to " + name.toStdString() + ": " + file.errorString().toStdString(),
                kCaption, MessageIcon::Error);
}

void TfExport::b_CopyTextClick()
{
    if (!noteText_->toPlainText().isEmpty())
        QApplication::clipboard()->setText(noteText_->toPlainText());
}

void TfExport::b_PlayClick()
{
    if (listenTag_ != kListenIdle) {
        host_.exportStop();
        resetListen();
        return;
    }
    listenTag_ = pages_->currentIndex() == kRingTonePage ? kListenRingtone : kListenNotes;
    play_->setText("Stop");
    host_.exportPlay();
}

void TfExport::resetListen()
{
    if (listenTag_ == kListenIdle)
        return;
    listenTag_ = kListenIdle;
    play_->setText("Listen");
}

// ---- Delivery options ----

DeliveryChoice TfExport::deliveryChoice() const
{
    DeliveryChoice choice;
    choice.sms = sms_->isChecked();
    choice.email = email_->isChecked();
    choice.rtttl = rtttl_->isChecked();
    choice.midi = midi_->isChecked();
    choice.mailTo = text(mailTo_);
    choice.phoneNumber = text(phone_);
    return choice;
}

void TfExport::showDeliveryChoice(const DeliveryChoice& choice)
{
    sms_->setChecked(choice.sms);
    email_->setChecked(choice.email);
    rtttl_->setChecked(choice.rtttl);
    midi_->setChecked(choice.midi);
}

void TfExport::refreshDeliveryControls()
{
    const DeliveryControls controls = deliveryControls(deliveryChoice(), settingsStore.deliveryOptions);
    phoneLabel_->setEnabled(controls.phoneNumber);
    phone_->setEnabled(controls.phoneNumber);
    mailLabel_->setEnabled(controls.mail);
    mailTo_->setEnabled(controls.mail);
    rtttl_->setEnabled(controls.rtttl);
    midi_->setEnabled(controls.midi);
    sms_->setEnabled(controls.sms);
    buy_->setEnabled(controls.receive);
}

void TfExport::cb_SMSClick()
{
    refreshDeliveryControls();
}

void TfExport::cb_EmailClick()
{
    DeliveryChoice choice = deliveryChoice();
    deliveryMailClicked(choice);
    showDeliveryChoice(choice);
    refreshDeliveryControls();
}

void TfExport::cb_RTTTLClick()
{
    DeliveryChoice choice = deliveryChoice();
    deliveryFormClicked(choice);
    showDeliveryChoice(choice);
    refreshDeliveryControls();
}

void TfExport::l_PhoneNSClick()
{
    showBox(kPhoneEntryHint, "Phone Number", MessageIcon::Information);
}

RingtoneRequest TfExport::ringtoneRequest() const
{
    RingtoneRequest request;
    request.notes = notes_;
    request.songName = text(songName_);
    request.useDottedNotes = useDottedNotes_->isChecked();
    request.defaults = defaults_;
    request.choice = deliveryChoice();
    return request;
}

void TfExport::b_BuyClick()
{
    const std::string problem = checkDelivery(deliveryChoice());
    if (!problem.empty()) {
        showBox(problem, kCaption, MessageIcon::Error);
        return;
    }
    TfInet online(*this);
    online.setGoTag(kGoReady);
    online.b_GoClick();
    online.exec();
}

// ---- MIDI Score page ----

void TfExport::cb_OffBeatClick()
{
    const bool offBeat = offBeat_->isChecked();
    for (QWidget* control : {static_cast<QWidget*>(pauseLabel_), static_cast<QWidget*>(pauseNom_),
                             static_cast<QWidget*>(pauseDiv_), static_cast<QWidget*>(pauseDen_)})
        control->setEnabled(offBeat);
}

void TfExport::lookUpSibling()
{
    lookUpSiblingProgram(sibling_);
    arrange_->setEnabled(sibling_.found);
    downloadHint_->setVisible(!sibling_.found);
    url_->setVisible(!sibling_.found);
}

bool TfExport::exportScore()
{
    exportPath_.clear();
    ScoreMeter meter;
    std::string error;
    if (!scoreMeterFromFields(text(nom_), text(den_), offBeat_->isChecked(), text(pauseNom_), text(pauseDen_), meter,
                              error)) {
        showBox(error, kCaption, MessageIcon::Error);
        return false;
    }
    if (notes_ == nullptr || notes_->count == 0)
        return false;
    const QString start = QString::fromStdString(defaultScorePath(settingsStore.workPath, text(songName_)));
    QString name = QFileDialog::getSaveFileName(this, "Export the MIDI score", start, "MIDI Files (*.mid)");
    if (name.isEmpty())
        return false;
    if (!name.endsWith(".mid"))
        name += ".mid";
    if (!exportScoreFile(*notes_, songSettings, meter, name.toStdString(), exportPath_, error)) {
        showBox(error, kCaption, MessageIcon::Error);
        return false;
    }
    return true;
}

void TfExport::b_OkClick()
{
    exportScore();
}

void TfExport::b_ArrangClick()
{
    if (!exportScore())
        return;
    if (!startSiblingProgram(sibling_, exportPath_))
        showBox(kExportFileErrorText, kCaption, MessageIcon::Information);
}
