#include "app/AboutBox.h"

#include <QMessageBox>

QString aboutText()
{
    return QStringLiteral(
               "<h3>Lirrosa %1</h3>"
               "<p>Turns a sung, hummed or whistled melody into MIDI notes.</p>"
               "<p>Built with Qt %2 (windows), FluidSynth (the built-in synthesiser), PulseAudio "
               "(microphone and speakers) and the ALSA sequencer; the General MIDI sounds come from "
               "the TimGM6mb soundfont.</p>")
        .arg(QStringLiteral(LIRROSA_VERSION), QString::fromLatin1(qVersion()));
}

void showAboutBox(QWidget* parent)
{
    QMessageBox box(QMessageBox::NoIcon, "About Lirrosa", aboutText(), QMessageBox::Ok, parent);
    box.setObjectName("aboutBox");
    box.setTextFormat(Qt::RichText);
    box.exec();
}
