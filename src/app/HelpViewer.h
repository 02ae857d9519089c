#pragma once
// The program's own help viewer: the HTML topics of the help folder, one page per help
// context, shown in a window of their own with links between them.

#include <QString>
#include <QWidget>

class QTextBrowser;

// The help contexts of the windows, and the contents page.
inline constexpr int kHelpMainWindow = 1;
inline constexpr int kHelpSettings = 3;
inline constexpr int kHelpExport = 4;
inline constexpr int kHelpNoteEdit = 5;
inline constexpr int kHelpContents = -3;

// The topic file of a help context ("main.html" ...); the contents page for any other value.
QString helpTopicFile(int context);

class HelpViewer : public QWidget {
public:
    explicit HelpViewer(QWidget* parent = nullptr);

    // The folder that holds the topics, ending in '/'.
    void setFolder(const QString& folder) { folder_ = folder; }
    const QString& folder() const { return folder_; }

    // Shows the topic of `context` and brings the viewer to the front. False (with a
    // message box) when the topic's file cannot be read.
    bool showTopic(int context);
    QString shownFile() const;

private:
    QString folder_;
    QTextBrowser* browser_;
};
