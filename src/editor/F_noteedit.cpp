#include "editor/F_noteedit.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

#include <algorithm>

#include "midi/MidiTime.h"
#include "notes/NoteNames.h"

namespace {

constexpr int kClientWidth = 202;
constexpr int kClientHeight = 241;
constexpr int kHelpTopic = 5;

QString bbt(int32_t ticks, int base)
{
    return QString::fromStdString(
        formatBarBeatTick(ticks, songSettings.tpqn, songSettings.meterNum, songSettings.meterDen, base));
}

QLineEdit* makeField(QWidget* parent, const char* name, const QRect& geometry, bool navy, int maxLength)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setGeometry(geometry);
    field->setReadOnly(true);
    if (maxLength > 0)
        field->setMaxLength(maxLength);
    if (navy)
        field->setStyleSheet("color: navy;");
    return field;
}

void makeCaption(QWidget* parent, const char* text, const QRect& geometry)
{
    auto* caption = new QLabel(text, parent);
    caption->setGeometry(geometry);
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* text, const QRect& geometry)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

} // namespace

UpDown::UpDown(QWidget* parent, const char* name, int minimum, int maximum)
    : QWidget(parent), minimum_(minimum), maximum_(maximum), position_(minimum)
{
    setObjectName(name);
    setFixedSize(16, 21);
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    up_->setGeometry(0, 0, 16, 10);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    down_->setGeometry(0, 11, 16, 10);
    QObject::connect(up_, &QToolButton::clicked, this, [this] { click(true); });
    QObject::connect(down_, &QToolButton::clicked, this, [this] { click(false); });
}

void UpDown::setPosition(int position)
{
    position_ = std::clamp(position, minimum_, maximum_);
}

void UpDown::setRange(int minimum, int maximum)
{
    minimum_ = minimum;
    maximum_ = maximum;
    setPosition(position_);
}

void UpDown::click(bool up)
{
    if (changing)
        changing(up);
    if (refusesMoves)
        return;
    setPosition(position_ + (up ? 1 : -1));
    if (clicked)
        clicked();
}

TfNoteEdit::TfNoteEdit(QWidget* owner) : QDialog(owner, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowSystemMenuHint)
{
    setObjectName("fNoteEdit");
    setWindowTitle("Edit Note");
    setFixedSize(kClientWidth, kClientHeight);

    auto* properties = new QGroupBox(" Note Properties ", this);
    properties->setGeometry(4, 2, 194, 110);
    makeCaption(properties, "Time:", QRect(8, 18, 56, 16));
    e_Position = makeField(properties, "e_Position", QRect(64, 16, 100, 21), false, 0);
    ud_Pos = new UpDown(properties, "ud_Pos", 0, 0);
    ud_Pos->move(164, 16);
    makeCaption(properties, "Duration:", QRect(8, 40, 56, 16));
    e_Quantity = makeField(properties, "e_Quantity", QRect(64, 38, 100, 21), false, 0);
    ud_Qnt = new UpDown(properties, "ud_Qnt", 0, 0);
    ud_Qnt->move(164, 38);
    makeCaption(properties, "Pitch:", QRect(8, 62, 56, 16));
    e_Note = makeField(properties, "e_Note", QRect(64, 60, 36, 21), true, 3);
    ud_Note = new UpDown(properties, "ud_Note", kLowestEditedPitch, kHighestEditedPitch);
    ud_Note->move(100, 60);
    makeCaption(properties, "Velocity:", QRect(8, 84, 56, 16));
    e_Vel = makeField(properties, "e_Vel", QRect(64, 82, 36, 21), true, 3);
    e_Vel->setText("0");
    ud_Vel = new UpDown(properties, "ud_Vel", 0, 127);
    ud_Vel->move(100, 82);
    b_Ok = makeButton(properties, "b_Ok", "Apply", QRect(124, 70, 62, 25));

    auto* merge = new QGroupBox(" Merge Note with ", this);
    merge->setGeometry(4, 114, 194, 44);
    b_MergeB = makeButton(merge, "b_MergeB", "<< Prev", QRect(8, 14, 84, 24));
    b_MergeF = makeButton(merge, "b_MergeF", "Next >>", QRect(102, 14, 84, 24));

    auto* split = new QGroupBox("Split Note", this);
    split->setGeometry(4, 160, 194, 50);
    tb_Split = new QSlider(Qt::Horizontal, split);
    tb_Split->setObjectName("tb_Split");
    tb_Split->setGeometry(4, 14, 126, 20);
    tb_Split->setRange(0, 100);
    tb_Split->setValue(50);
    tb_Split->setPageStep(10);
    tb_Split->setTickInterval(25);
    tb_Split->setTickPosition(QSlider::TicksBelow);
    auto* scale = new QLabel("0     0.25     0.5   0.75      1 ", split);
    scale->setGeometry(4, 34, 130, 12);
    QFont small = scale->font();
    small.setPointSize(6);
    scale->setFont(small);
    b_Split = makeButton(split, "b_Split", "Split", QRect(136, 14, 52, 24));

    b_Delete = makeButton(this, "b_Delete", "Delete", QRect(4, 214, 60, 24));
    b_Help = makeButton(this, "b_Help", "Help", QRect(71, 214, 60, 24));
    b_Cancel = makeButton(this, "b_Cancel", "Close", QRect(138, 214, 60, 24));

    e_Note->clear();
    ud_Pos->refusesMoves = true;
    ud_Qnt->refusesMoves = true;
    ud_Pos->changing = [this](bool up) { ud_PosChangingEx(up); };
    ud_Qnt->changing = [this](bool up) { ud_QntChangingEx(up); };
    ud_Note->clicked = [this] { e_Note->setText(QString::fromStdString(noteName(ud_Note->position()))); };
    ud_Vel->clicked = [this] { e_Vel->setText(QString::number(ud_Vel->position())); };
    for (QLineEdit* field : {e_Position, e_Quantity, e_Vel})
        field->installEventFilter(this);

    connect(b_Ok, &QPushButton::clicked, this, [this] {
        notePitch = static_cast<int16_t>(ud_Note->position());
        noteVelocity = static_cast<int16_t>(std::clamp(e_Vel->text().toInt(), 0, 127));
        closeWith(ActionApply);
    });
    connect(b_MergeB, &QPushButton::clicked, this, [this] { closeWith(ActionMergePrevious); });
    connect(b_MergeF, &QPushButton::clicked, this, [this] { closeWith(ActionMergeNext); });
    connect(b_Split, &QPushButton::clicked, this, [this] { closeWith(ActionSplit); });
    connect(b_Delete, &QPushButton::clicked, this, [this] { closeWith(ActionDelete); });
    connect(b_Help, &QPushButton::clicked, this, [this] {
        if (showHelp)
            showHelp(kHelpTopic);
    });
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfNoteEdit::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TfNoteEdit::FormShow()
{
    action = ActionNone;
    // A note outside the arrows' range (from a MIDI file) keeps its pitch unless it is stepped.
    ud_Note->setRange(std::min<int>(kLowestEditedPitch, notePitch), std::max<int>(kHighestEditedPitch, notePitch));
    ud_Note->setPosition(notePitch);
    e_Note->setText(QString::fromStdString(noteName(notePitch)));
    showStart();
    showDuration();
    e_Vel->setText(QString::number(noteVelocity));
    ud_Vel->setPosition(noteVelocity);
}

NoteValues TfNoteEdit::values() const
{
    NoteValues v;
    v.pitch = notePitch;
    v.start = noteStart;
    v.duration = noteDuration;
    v.velocity = noteVelocity;
    v.prevEnd = prevEnd;
    v.nextStart = nextStart;
    return v;
}

void TfNoteEdit::ud_PosChangingEx(bool up)
{
    noteStart = steppedStart(values(), up);
    showStart();
}

void TfNoteEdit::ud_QntChangingEx(bool up)
{
    noteDuration = steppedDuration(values(), up);
    showDuration();
}

void TfNoteEdit::showStart()
{
    e_Position->setText(bbt(noteStart, 1));
}

void TfNoteEdit::showDuration()
{
    e_Quantity->setText(bbt(noteDuration, 0));
}

void TfNoteEdit::closeWith(int32_t chosen)
{
    action = chosen;
    accept();
}

// The time, duration and velocity fields take only digits and backspace.
bool TfNoteEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool digit = key->text().size() == 1 && key->text()[0] >= u'0' && key->text()[0] <= u'9';
        if (!digit && key->key() != Qt::Key_Backspace)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
