// lirrosa: the desktop program. Starts the application, shows the main window and runs
// the event loop until the window closes.

#include <QApplication>

#include <cstdlib>
#include <exception>

#include "app/F_main.h"
#include "app/QtNotifier.h"
#include "platform/UserNotifier.h"

namespace {

// An error that reaches the event loop is shown in a box; the program goes on.
class LirrosaApplication : public QApplication {
public:
    LirrosaApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            showError(std::string("Something went wrong: ") + error.what());
        } catch (...) {
            showError("Something went wrong that the program did not expect.");
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    // Whole scale factors only: at fractional ones the rounded outline of the window
    // would be cut with gaps.
    if (std::getenv("QT_SCALE_FACTOR_ROUNDING_POLICY") == nullptr)
        QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Round);
    LirrosaApplication application(argc, argv);
    QApplication::setApplicationName("Lirrosa");
    QApplication::setApplicationDisplayName("Lirrosa");
    QApplication::setDesktopFileName("lirrosa");
    QtNotifier notifier;

    TfMain fMain;
    notifier.setParentWindow(&fMain);
    if (!fMain.startUp())
        return 1;
    fMain.show();
    return QApplication::exec();
}
