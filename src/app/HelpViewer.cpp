#include "app/HelpViewer.h"

#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/UserNotifier.h"

QString helpTopicFile(int context)
{
    switch (context) {
    case kHelpMainWindow:
        return "main.html";
    case kHelpSettings:
        return "settings.html";
    case kHelpExport:
        return "export.html";
    case kHelpNoteEdit:
        return "noteedit.html";
    default:
        return "index.html";
    }
}

HelpViewer::HelpViewer(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this))
{
    setObjectName("helpViewer");
    setWindowTitle("Lirrosa Help");
    browser_->setObjectName("helpBrowser");
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(640, 560);
}

bool HelpViewer::showTopic(int context)
{
    const QString path = folder_ + helpTopicFile(context);
    if (!QFileInfo(path).isReadable()) {
        showError("The help page " + path.toStdString() + " cannot be found. Run Lirrosa Setup again to install it.");
        return false;
    }
    browser_->setSource(QUrl::fromLocalFile(path));
    show();
    raise();
    activateWindow();
    return true;
}

QString HelpViewer::shownFile() const
{
    return browser_->source().toLocalFile();
}
