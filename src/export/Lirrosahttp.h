#pragma once
// The HTTP component of the online ringtone service: one form-encoded POST at a time,
// never from or into a cache, with a time-out until the service answers and then up to
// 30 polls, 2 s apart, for the whole page. A page of the "BEGIN" ... "END" form ends in
// OnOK with its keys and values; a failed request in OnError with "Network error"; no
// answer in time in OnError with "Timeout"; any other page is dropped without OnOK or
// OnError. Runs on the thread of its Qt event loop.

#include <QObject>
#include <QTimer>
#include <QVariant>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

class TLirrosaHTTP : public QObject {
    Q_OBJECT

public:
    static constexpr int kCreationTimeoutMs = 120000;
    static constexpr int kPollIntervalMs = 2000;
    static constexpr int kMaxPolls = 30;
    static constexpr qint64 kLargestPage = 1 << 20; // a longer page is cut there, so it is dropped

    explicit TLirrosaHTTP(QObject* parent = nullptr);
    ~TLirrosaHTTP() override;

    std::function<void(TLirrosaHTTP* sender, const std::vector<std::string>& keys,
                       const std::vector<std::string>& values)>
        OnOK;
    std::function<void(TLirrosaHTTP* sender, const std::string& message)> OnError;
    // A whole page arrived that is not of the answer's form (the online window has no
    // use for it; the command line reports it).
    std::function<void(TLirrosaHTTP* sender)> OnDropped;

    // Posts the first `bodyLength` bytes of `body` to `address`. False when the address is
    // not an http address or the body is shorter than `bodyLength`; a request still
    // running is abandoned first.
    bool Request(const std::string& address, const std::string& body, int timeoutSeconds, size_t bodyLength);
    // Stops both timers and abandons the request, so that nothing more arrives from it.
    void Stop();

    // The time between polls (tests shorten it).
    void setPollInterval(int milliseconds) { poll_.setInterval(milliseconds); }

private:
    void NavigateComplete2Wrapper();
    void NavigateErrorWrapper();
    void TimerWrapper();
    void Timer1Wrapper();
    void readPage();
    void abandonReply();

    QNetworkAccessManager* manager_;
    QNetworkReply* reply_ = nullptr;
    QTimer timeout_;
    QTimer poll_;
    int polls_ = 0;
    bool error_ = false;
    bool navigated_ = false;
    QByteArray page_;
    std::vector<std::string> keys_;
    std::vector<std::string> values_;
};
