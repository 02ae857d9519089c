#include "editor/F_display.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSlider>
#include <QPushButton>
#include <QWheelEvent>

#include <algorithm>

#include "editor/F_noteedit.h"
#include "midi/MidiTime.h"
#include "midi/Midi_func.h"
#include "notes/NoteNames.h"
#include "notes/Tksds.h"
#include "platform/UserNotifier.h"
#include "skin/MainSkinLayout.h"

namespace {

constexpr int kHeaderHeight = 20;
constexpr int kFooterHeight = 16;
constexpr int kMinimumWidth = 160;
constexpr int kMinimumHeight = 80;
const QColor kBackground(69, 69, 69);
const QColor kSilver(192, 192, 192);
const char* const kNoteNamePrefix = "NI_";

QString pitchName(int pitch)
{
    return QString::fromStdString(noteName(pitch));
}

QLabel* makeFooterLabel(QWidget* parent, const char* name, int width, bool bold, Qt::Alignment alignment)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFixedWidth(width);
    label->setAlignment(alignment | Qt::AlignVCenter);
    QFont font = label->font();
    font.setPointSize(7);
    font.setBold(bold);
    label->setFont(font);
    label->setStyleSheet(QString("color: %1; background: %2;").arg(kSilver.name(), kBackground.name()));
    return label;
}

QLabel* makeIcon(QWidget* parent, const char* name, const char* hint, Qt::CursorShape cursor)
{
    auto* icon = new QLabel(parent);
    icon->setObjectName(name);
    icon->setFixedSize(kEditorIconSize, kEditorIconSize);
    icon->setToolTip(hint);
    icon->setCursor(cursor);
    icon->setAlignment(Qt::AlignCenter);
    icon->setStyleSheet(QString("color: %1;").arg(kSilver.name()));
    return icon;
}

// The device may refuse a note; the editor goes on without the sound.
void sound(MidiOut& out, uint32_t note, uint8_t velocity)
{
    try {
        out.auditionNote(static_cast<uint8_t>(note), velocity, 0);
    } catch (const MidiDeviceError&) {
    }
}

} // namespace

// ---- Note images ----

NoteImage::NoteImage(QWidget* parent, int32_t tag) : QWidget(parent), Tag(tag)
{
    setObjectName(QString(kNoteNamePrefix) + QString::number(tag));
    setCursor(Qt::PointingHandCursor);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setMouseTracking(true);
}

void NoteImage::paintNote(int pitch, bool selected)
{
    const NoteColour& colour = kNoteColours[pitchClass(pitch)];
    fill_ = QColor(colour.r, colour.g, colour.b);
    selected_ = selected;
    update();
}

void NoteImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(selected_ ? QColor(Qt::white) : kBackground);
    painter.setBrush(fill_);
    painter.drawRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), 1, 1);
}

void NoteImage::mousePressEvent(QMouseEvent* event)
{
    static_cast<TfDisplay*>(parentWidget())
        ->noteMouseDown(this, event->button(), event->modifiers(), event->position().toPoint());
}

void NoteImage::mouseMoveEvent(QMouseEvent* event)
{
    auto* display = static_cast<TfDisplay*>(parentWidget());
    const QPoint at = event->position().toPoint();
    display->FormMouseMove(mapToParent(at).y());
    display->noteMouseMove(this, event->buttons(), at);
}

void NoteImage::mouseReleaseEvent(QMouseEvent*)
{
    static_cast<TfDisplay*>(parentWidget())->noteMouseUp(this);
}

// ---- The window ----

TfDisplay::TfDisplay(QWidget* owner, EditorHost& host)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint), host_(host)
{
    setObjectName("fDisplay");
    setWindowTitle("Edit");
    resize(kInitialWidth, kInitialHeight);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    createHeader();
    createFooter();
    createMenu();
    createShortcuts();
    drawPlayMarker();
    view.create(songSettings);
    layOut();
}

TfDisplay::~TfDisplay() = default;

void TfDisplay::createHeader()
{
    p_Header = new QFrame(this);
    p_Header->setObjectName("p_Header");
    p_Header->setStyleSheet(QString("QFrame#p_Header { background: %1; }").arg(kBackground.name()));
    imgHeader = new QLabel(p_Header);
    imgHeader->setObjectName("imgHeader");
    imgHeader->setScaledContents(true);
    img_PlayPos = new QLabel(p_Header);
    img_PlayPos->setObjectName("img_PlayPos");
    img_PlayPos->setGeometry(0, 0, 8, 16);
    img_PlayPos->setAttribute(Qt::WA_TranslucentBackground);
    img_PlayPos->setStyleSheet("background: transparent;");
}

void TfDisplay::createFooter()
{
    p_Footer = new QFrame(this);
    p_Footer->setObjectName("p_Footer");
    p_Footer->setStyleSheet(QString("QFrame#p_Footer { background: %1; }").arg(kBackground.name()));
    l_BBT = makeFooterLabel(p_Footer, "l_BBT", 59, false, Qt::AlignRight);
    l_BBT->setText("00:00:000  ");
    l_Pitch = makeFooterLabel(p_Footer, "l_Pitch", 26, true, Qt::AlignLeft);
    sb_Position = new QScrollBar(Qt::Horizontal, p_Footer);
    sb_Position->setObjectName("sb_Position");
    sb_Position->setRange(0, kScrollBarMaximum);
    sb_Position->setSingleStep(4);
    sb_Position->setPageStep(8);
    sb_Position->setFocusPolicy(Qt::NoFocus);
    connect(sb_Position, &QScrollBar::valueChanged, this, [this](int position) { sb_PositionScroll(position); });
    b_ZoomUp = makeIcon(p_Footer, "b_ZoomUp", "Zoom In", Qt::PointingHandCursor);
    b_ZoomDown = makeIcon(p_Footer, "b_ZoomDown", "Zoom Out", Qt::PointingHandCursor);
    b_Resize = makeIcon(p_Footer, "b_Resize", "Resize", Qt::SizeFDiagCursor);
    b_ZoomUp->setText("+");
    b_ZoomDown->setText("-");
    for (QLabel* icon : {b_ZoomUp, b_ZoomDown, b_Resize})
        icon->installEventFilter(this);
}

void TfDisplay::createMenu()
{
    mnNote = new QMenu(this);
    mnNote->setObjectName("mnNote");
    mnNote->addAction("Edit", this, [this] {
        if (NoteImage* image = noteImage(view.selectedIndex))
            openNoteEdit(image);
    });
    mnNote->addAction("Delete", this, [this] { applyAction(view.selectedIndex, ActionDelete, 0); });
    mnNote->addAction("Merge with Previous", this,
                      [this] { applyAction(view.selectedIndex, ActionMergePrevious, 0); });
    mnNote->addAction("Merge with Next", this, [this] { applyAction(view.selectedIndex, ActionMergeNext, 0); });
}

void TfDisplay::createShortcuts()
{
    const auto add = [this](const QKeySequence& keys, auto action) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    add(QKeySequence(Qt::Key_Delete), [this] { deleteSelected(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { undo(); });
    add(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { redo(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_O), [this] { host_.openMidiFile(); });
    add(QKeySequence(Qt::Key_Plus), [this] { b_ZoomUpClick(); });
    add(QKeySequence(Qt::Key_Minus), [this] { b_ZoomDownClick(); });
}

void TfDisplay::drawPlayMarker()
{
    QPixmap marker(8, 16);
    marker.fill(Qt::transparent);
    QPainter painter(&marker);
    painter.setPen(QColor(128, 128, 128));
    painter.setBrush(QColor(202, 177, 2));
    const QPoint outer[] = {{0, 0}, {7, 0}, {7, 12}, {4, 16}, {0, 12}};
    painter.drawPolygon(outer, 5);
    painter.setPen(QColor(254, 238, 122));
    painter.setBrush(QColor(254, 238, 122));
    const QPoint inner[] = {{2, 2}, {5, 2}, {5, 10}, {3, 14}, {2, 10}};
    painter.drawPolygon(inner, 5);
    painter.end();
    img_PlayPos->setPixmap(marker);
}

void TfDisplay::setIcons(const QString& skinFolder)
{
    QLabel* icons[] = {b_ZoomUp, b_ZoomDown, b_Resize};
    for (int i = 0; i < 3; ++i) {
        const QPixmap picture(skinFolder + kEditorIconFiles[i]);
        if (!picture.isNull())
            icons[i]->setPixmap(picture);
    }
}

void TfDisplay::setHeaderPicture(const QPixmap& picture)
{
    imgHeader->setPixmap(picture);
}

int32_t TfDisplay::headerHeight() const
{
    return p_Header->isVisibleTo(this) ? p_Header->height() : 0;
}

int32_t TfDisplay::footerHeight() const
{
    return p_Footer->isVisibleTo(this) ? p_Footer->height() : 0;
}

void TfDisplay::layOut()
{
    p_Header->setGeometry(0, 0, width(), kHeaderHeight);
    imgHeader->setGeometry(0, 0, width(), kHeaderHeight);
    p_Footer->setGeometry(0, height() - kFooterHeight, width(), kFooterHeight);
    l_BBT->setGeometry(0, 0, 59, kFooterHeight);
    l_Pitch->setGeometry(59, 0, 26, kFooterHeight);
    const int iconsLeft = width() - 3 * kEditorIconSize;
    sb_Position->setGeometry(85, 0, std::max(0, iconsLeft - 85), kFooterHeight);
    b_ZoomUp->move(iconsLeft, 0);
    b_ZoomDown->move(iconsLeft + kEditorIconSize, 0);
    b_Resize->move(iconsLeft + 2 * kEditorIconSize, 0);
    view.layOut(height(), headerHeight(), footerHeight());
}

// ---- The interface of the main window ----

void TfDisplay::reset()
{
    view.reset();
    selectedImage = nullptr;
    const QSignalBlocker still(sb_Position);
    sb_Position->setValue(0);
    barPosition_ = 0;
}

void TfDisplay::prepare()
{
    view.prepare(host_.editedNotes(), clientWidth(), songSettings);
}

void TfDisplay::refresh()
{
    reset();
    prepare();
    update(kDisplayStartFlags, 0);
}

void TfDisplay::update(uint32_t flags, int32_t playTicks)
{
    view.displayFlags = flags;
    setPlayPosition(playTicks >= 0 ? playTicks : view.playTicks);
    redraw();
    view.displayFlags &= ~kDisplayFullRedraw;
}

// Pages the view to the play position when the marker reached the right edge.
bool TfDisplay::followPlay()
{
    if (!view.reachedRightEdge(clientWidth()))
        return false;
    scrollTo(0, ScrollMode::FollowPlay);
    return true;
}

void TfDisplay::setPlayPosition(int32_t ticks)
{
    view.setPlayPosition(ticks);
    img_PlayPos->move(view.markerX, img_PlayPos->y());
}

void TfDisplay::scrollTo(int32_t value, ScrollMode mode)
{
    const int32_t bar = view.scrollTo(value, mode, host_.editedNotes(), clientWidth());
    if (bar < 0)
        return;
    const QSignalBlocker still(sb_Position);
    sb_Position->setValue(bar);
    barPosition_ = bar;
}

NoteImage* TfDisplay::noteImage(int32_t index) const
{
    if (index < 0)
        return nullptr;
    return findChild<NoteImage*>(QString(kNoteNamePrefix) + QString::number(index), Qt::FindDirectChildrenOnly);
}

bool TfDisplay::noteExists(int32_t index) const
{
    return host_.editedNotes().at(index) != nullptr;
}

void TfDisplay::selectNote(int32_t index, int32_t previous, NoteImage* image, bool scrollIntoView)
{
    if (previous == -1)
        previous = view.selectedIndex;
    view.selectedIndex = -1;
    selectedImage = nullptr;
    const NoteSequence& notes = host_.editedNotes();
    if (NoteImage* old = previous >= 0 ? noteImage(previous) : nullptr; old != nullptr && noteExists(previous))
        old->paintNote(notes[previous].note, false);
    if (image == nullptr)
        image = noteImage(index);
    int32_t start = 0;
    if (const NoteEvent* note = notes.at(index)) {
        start = note->start;
        if (image != nullptr) {
            image->paintNote(note->note, true);
            selectedImage = image;
            view.selectedIndex = image->Tag;
        } else if (scrollIntoView) {
            view.selectedIndex = index;
            scrollTo(static_cast<int32_t>(static_cast<float>(start) * view.pxPerTick), ScrollMode::Centre);
            update(kDisplayStartFlags, -1);
        }
    }
    l_BBT->setText(QString::fromStdString(formatBarBeatTick(start, songSettings.tpqn, songSettings.meterNum,
                                                            songSettings.meterDen, 1)) +
                   "  ");
}

// ---- Drawing ----

void TfDisplay::redraw()
{
    if ((view.displayFlags & kDisplayFullRedraw) == 0)
        return;
    destroyNoteImages();
    layOut();
    QWidget::update();
    if (host_.editedNotes().count > 0)
        drawNotes();
}

// The images go at once from the search by name; Qt deletes them once their events are done,
// since one of them may be the image whose click led here.
void TfDisplay::destroyNoteImages()
{
    selectedImage = nullptr;
    for (NoteImage* image : findChildren<NoteImage*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!image->objectName().startsWith(kNoteNamePrefix))
            continue;
        image->setObjectName(QString());
        image->hide();
        image->deleteLater();
    }
}

void TfDisplay::drawNotes()
{
    const NoteSequence& notes = host_.editedNotes();
    int32_t i = std::max(view.firstVisible, 0);
    for (; i < notes.count; ++i) {
        const NoteEvent& note = notes[i];
        const int32_t x = view.xOfTicks(note.start);
        if (x > clientWidth())
            break;
        auto* image = new NoteImage(this, i);
        image->setGeometry(x, view.rowTop(note.note), std::max(1, view.widthOfTicks(note.duration)), view.rowHeight);
        image->setToolTip(pitchName(note.note));
        image->paintNote(note.note, i == view.selectedIndex);
        image->show();
        if (i == view.selectedIndex)
            selectedImage = image;
    }
    view.lastDrawn = i;
    p_Header->raise();
    p_Footer->raise();
}

void TfDisplay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int32_t top = headerHeight();
    const int32_t bottom = height() - footerHeight();
    painter.fillRect(0, top, width(), bottom - top, kBackground);
    if (!view.gridOn)
        return;
    for (const GridLine& line : view.gridLines(width(), top, bottom, songSettings)) {
        painter.setPen(QColor(line.grey, line.grey, line.grey));
        if (line.vertical)
            painter.drawLine(line.position, top, line.position, bottom - 1);
        else
            painter.drawLine(0, line.position, width() - 1, line.position);
    }
}

void TfDisplay::resizeEvent(QResizeEvent*)
{
    layOut();
    if (!resizing)
        update(kDisplayStartFlags, -1);
}

// ---- Zoom, scroll, wheel, pitch readout, resize grip ----

void TfDisplay::b_ZoomUpClick()
{
    if (view.zoomIn())
        update(kDisplayStartFlags, -1);
}

void TfDisplay::b_ZoomDownClick()
{
    if (view.zoomOut())
        update(kDisplayStartFlags, -1);
}

void TfDisplay::sb_PositionScroll(int position)
{
    if (host_.editedNotes().count == 0 || !host_.editingAllowed()) {
        const QSignalBlocker still(sb_Position);
        sb_Position->setValue(barPosition_);
        return;
    }
    if (position == barPosition_)
        return;
    barPosition_ = position;
    scrollTo(view.pixelsOfBar(position), ScrollMode::Pixels);
    update(kDisplayStartFlags, -1);
}

void TfDisplay::wheelEvent(QWheelEvent* event)
{
    const int step = view.wheel(event->angleDelta().y());
    if (step == 0) {
        event->ignore();
        return;
    }
    if (step > 0)
        b_ZoomUpClick();
    else
        b_ZoomDownClick();
    event->accept();
}

void TfDisplay::mouseMoveEvent(QMouseEvent* event)
{
    FormMouseMove(event->position().toPoint().y());
}

void TfDisplay::FormMouseMove(int y)
{
    l_Pitch->setText(pitchName(view.pitchAt(y)));
}

bool TfDisplay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == b_Resize) {
        if (event->type() == QEvent::MouseButtonPress) {
            resizing = true;
            return true;
        }
        if (event->type() == QEvent::MouseMove && resizing) {
            const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
            resize(std::max(kMinimumWidth, at.x() - x()), std::max(kMinimumHeight, at.y() - y()));
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease && resizing) {
            resizing = false;
            update(kDisplayStartFlags, -1);
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonPress && (watched == b_ZoomUp || watched == b_ZoomDown)) {
        if (watched == b_ZoomUp)
            b_ZoomUpClick();
        else
            b_ZoomDownClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Notes and the mouse ----

void TfDisplay::tellPosition(int32_t ticks)
{
    host_.SetDiagramPosition(view.leftTicks, ticks, 2);
}

void TfDisplay::noteMouseDown(NoteImage* image, Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint)
{
    if (!host_.editingAllowed())
        return;
    selectNote(image->Tag, view.selectedIndex, image, false);
    NoteSequence& notes = host_.editedNotes();
    const NoteEvent* note = notes.at(view.selectedIndex);
    tellPosition(note != nullptr ? note->start : view.playTicks);
    if (note == nullptr)
        return;
    if (button == Qt::RightButton) {
        if (shift & Qt::ShiftModifier)
            popUpMenu(image->mapToGlobal(QPoint(image->width(), 0)));
        else
            openNoteEdit(image);
        return;
    }
    if (button != Qt::LeftButton)
        return;
    beforeDrag_ = EditHistory::snapshotOf(notes);
    dragStartPitch_ = note->note;
    auditionNote = note->note;
    sound(host_.auditionOut(), auditionNote, note->velocity);
}

void TfDisplay::noteMouseMove(NoteImage* image, Qt::MouseButtons buttons, QPoint at)
{
    if (!(buttons & Qt::LeftButton) || dragStartPitch_ < 0 || image != selectedImage)
        return;
    NoteEvent* note = host_.editedNotes().at(view.selectedIndex);
    if (note == nullptr)
        return;
    const int32_t top = image->y() + at.y();
    image->move(image->x(), top);
    const int32_t p = std::clamp(view.pitchAt(top + view.rowHeight / 2), 0, 127);
    if (p == note->note)
        return;
    sound(host_.auditionOut(), auditionNote, 0);
    note->note = static_cast<uint8_t>(p);
    auditionNote = static_cast<uint32_t>(p);
    sound(host_.auditionOut(), auditionNote, note->velocity);
    image->setToolTip(pitchName(p));
    image->paintNote(p, true);
}

void TfDisplay::noteMouseUp(NoteImage* image)
{
    NoteSequence& notes = host_.editedNotes();
    const NoteEvent* note = notes.at(view.selectedIndex);
    if (note == nullptr || image != selectedImage) {
        dragStartPitch_ = -1;
        return;
    }
    tellPosition(note->start);
    if (auditionNote != 0)
        sound(host_.auditionOut(), auditionNote, 0);
    auditionNote = 0;
    image->move(image->x(), view.rowTop(note->note));
    if (dragStartPitch_ >= 0 && dragStartPitch_ != note->note)
        history_.recordEdit(std::move(beforeDrag_), notes);
    dragStartPitch_ = -1;
}

void TfDisplay::openNoteEdit(NoteImage* image)
{
    NoteSequence& notes = host_.editedNotes();
    if (!host_.editingAllowed() || image == nullptr || !noteExists(image->Tag))
        return;
    const int32_t index = image->Tag;
    const NoteValues values = noteValuesOf(notes, index);
    TfNoteEdit dialog(this);
    dialog.notePitch = static_cast<int16_t>(values.pitch);
    dialog.noteStart = values.start;
    dialog.noteDuration = values.duration;
    dialog.noteVelocity = static_cast<int16_t>(values.velocity);
    dialog.prevEnd = values.prevEnd;
    dialog.nextStart = values.nextStart;
    dialog.showHelp = [this](int context) { host_.showHelpTopic(context); };

    QPoint at = image->mapToGlobal(QPoint(image->width() + 8, 0));
    const QScreen* screen = this->screen();
    const QRect area = screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
    if (at.x() + dialog.width() > area.right())
        at.rx() -= dialog.width() + image->width() + 12;
    if (at.y() + dialog.height() > area.bottom())
        at.ry() -= dialog.height() + image->height();
    dialog.move(at);
    dialog.b_MergeB->setEnabled(index > 0);
    dialog.b_MergeF->setEnabled(index + 1 < notes.count);
    if (dialogShown)
        dialogShown(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.action == ActionNone)
        return;

    EditHistory::Snapshot before = EditHistory::snapshotOf(notes);
    const int32_t startBefore = values.start;
    if (dialog.action == ActionApply) {
        NoteValues changed = values;
        changed.pitch = dialog.notePitch;
        changed.start = dialog.noteStart;
        changed.duration = dialog.noteDuration;
        changed.velocity = dialog.noteVelocity;
        applyNoteValues(notes, index, changed);
        afterEdit(std::move(before), startBefore);
        return;
    }
    commitAction(index, static_cast<NoteAction>(dialog.action), dialog.tb_Split->value(), std::move(before));
}

void TfDisplay::applyAction(int32_t index, NoteAction action, int32_t percent)
{
    if (!host_.editingAllowed() || !noteExists(index))
        return;
    commitAction(index, action, percent, EditHistory::snapshotOf(host_.editedNotes()));
}

void TfDisplay::commitAction(int32_t index, NoteAction action, int32_t percent, EditHistory::Snapshot before)
{
    NoteSequence& notes = host_.editedNotes();
    const int32_t startBefore = notes[index].start;
    const EditRefusal refusal = applyNoteAction(notes, index, action, percent);
    if (refusal != EditRefusal::None) {
        refused(refusal);
        return;
    }
    if (action == ActionMergePrevious)
        view.selectedIndex -= 1;
    if (action == ActionDelete) {
        selectedImage = nullptr;
        view.selectedIndex = -1;
    }
    afterEdit(std::move(before), startBefore);
}

void TfDisplay::afterEdit(EditHistory::Snapshot before, int32_t startBefore)
{
    NoteSequence& notes = host_.editedNotes();
    history_.recordEdit(std::move(before), notes);
    if (notes.count > 0)
        computeSummary(notes);
    update(kDisplayStartFlags, -1);
    view.displayFlags = kDisplayMarkerOnly;
    tellPosition(startBefore);
}

void TfDisplay::refused(EditRefusal why)
{
    const char* text = why == EditRefusal::TooLong   ? "The merged note would be longer than a note can be."
                       : why == EditRefusal::EmptyPart ? "Move the slider between the ends of the note to split it."
                                                       : nullptr;
    if (text != nullptr)
        userNotifier().show(text, "Edit Note", MessageIcon::Information, MessageButtons::Ok);
}

void TfDisplay::deleteSelected()
{
    applyAction(view.selectedIndex, ActionDelete, 0);
}

void TfDisplay::undo()
{
    if (!host_.editingAllowed() || !history_.undo(host_.editedNotes()))
        return;
    afterHistoryStep();
}

void TfDisplay::redo()
{
    if (!host_.editingAllowed() || !history_.redo(host_.editedNotes()))
        return;
    afterHistoryStep();
}

void TfDisplay::afterHistoryStep()
{
    NoteSequence& notes = host_.editedNotes();
    if (notes.count > 0)
        computeSummary(notes);
    view.selectedIndex = -1;
    update(kDisplayStartFlags, -1);
    view.displayFlags = kDisplayMarkerOnly;
    tellPosition(view.leftTicks);
}

void TfDisplay::popUpMenu(const QPoint& globalAt)
{
    const int32_t selected = view.selectedIndex;
    if (!host_.editingAllowed() || !noteExists(selected))
        return;
    const QList<QAction*> items = mnNote->actions();
    items[2]->setEnabled(selected > 0);
    items[3]->setEnabled(selected + 1 < host_.editedNotes().count);
    mnNote->exec(globalAt);
}

// The Menu key opens the note menu on the note under the pointer, or the selected note.
void TfDisplay::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    if (event->reason() != QContextMenuEvent::Keyboard || !host_.editingAllowed())
        return;
    auto* under = dynamic_cast<NoteImage*>(childAt(mapFromGlobal(QCursor::pos())));
    if (under != nullptr)
        selectNote(under->Tag, view.selectedIndex, under, false);
    if (NoteImage* image = noteImage(view.selectedIndex))
        popUpMenu(image->mapToGlobal(QPoint(image->width(), 0)));
}
