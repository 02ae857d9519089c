#pragma once
// TfInet: the online window, "Zavo On-line creation and delivery service". It sends one
// ringtone request of the export window to the service, shows a connecting animation
// while it runs, and then the service's message, or in its status line why no answer came.
// "Go" sends again after an error or a stop; after an answer it is disabled.

#include <QDialog>
#include <QTimer>

#include <string>
#include <vector>

#include "export/Lirrosahttp.h"

class QLabel;
class QLineEdit;
class QPushButton;
class TfExport;

// The tags of "Go": ready to send, and a request running (the ready tag times 10).
inline constexpr int kGoReady = 2;
inline constexpr int kGoRunning = 20;

inline const std::string kStoppedByUserText = "Connecting Terminate by user...";

class TfInet : public QDialog {
public:
    explicit TfInet(TfExport& owner);
    ~TfInet() override;

    void setGoTag(int tag) { goTag_ = tag; }
    int goTag() const { return goTag_; }

    void b_GoClick();
    void Timer1Timer();
    void htOK(const std::vector<std::string>& keys, const std::vector<std::string>& values);
    void htError(const std::string& message);

    TLirrosaHTTP& http() { return ht_; }
    QTimer& animation() { return timer1_; }

protected:
    void done(int result) override;

private:
    void sendRequest();
    void finishRequest();
    void stopByUser();

    TfExport& owner_;
    std::string address_;
    std::string url_;
    int goTag_ = kGoReady;
    int counter_ = 0;
    TLirrosaHTTP ht_;
    QTimer timer1_;
    QLabel* message_;
    QPushButton* go_;
    QLineEdit* status_;
};
