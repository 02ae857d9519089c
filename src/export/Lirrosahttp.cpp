#include "export/Lirrosahttp.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

#include "export/DeliveryRequest.h"

TLirrosaHTTP::TLirrosaHTTP(QObject* parent) : QObject(parent), manager_(new QNetworkAccessManager(this))
{
    manager_->setCache(nullptr);
    manager_->setCookieJar(nullptr);
    timeout_.setSingleShot(true);
    timeout_.setInterval(kCreationTimeoutMs);
    poll_.setInterval(kPollIntervalMs);
    connect(&timeout_, &QTimer::timeout, this, &TLirrosaHTTP::TimerWrapper);
    connect(&poll_, &QTimer::timeout, this, &TLirrosaHTTP::Timer1Wrapper);
}

TLirrosaHTTP::~TLirrosaHTTP()
{
    abandonReply();
}

bool TLirrosaHTTP::Request(const std::string& address, const std::string& body, int timeoutSeconds, size_t bodyLength)
{
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != "http" || url.host().isEmpty() || bodyLength > body.size())
        return false;
    Stop();
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QString::fromStdString(kFormContentType));
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    page_.clear();
    navigated_ = false;
    reply_ = manager_->post(request, QByteArray(body.data(), static_cast<qsizetype>(bodyLength)));
    connect(reply_, &QNetworkReply::metaDataChanged, this, &TLirrosaHTTP::NavigateComplete2Wrapper);
    connect(reply_, &QNetworkReply::readyRead, this, &TLirrosaHTTP::readPage);
    connect(reply_, &QNetworkReply::finished, this, [this] {
        readPage();
        // An answer without headers of its own still completes the navigation.
        if (reply_ != nullptr && reply_->error() == QNetworkReply::NoError && !navigated_)
            NavigateComplete2Wrapper();
    });
    connect(reply_, &QNetworkReply::errorOccurred, this, [this](QNetworkReply::NetworkError code) {
        if (code != QNetworkReply::OperationCanceledError)
            NavigateErrorWrapper();
    });
    timeout_.start(std::max(timeoutSeconds, 0) * 1000);
    poll_.stop();
    error_ = false;
    return true;
}

void TLirrosaHTTP::Stop()
{
    timeout_.stop();
    poll_.stop();
    abandonReply();
}

void TLirrosaHTTP::abandonReply()
{
    if (reply_ == nullptr)
        return;
    // Deleting the reply closes its connection; it may be inside one of its own signals.
    reply_->disconnect(this);
    reply_->deleteLater();
    reply_ = nullptr;
}

void TLirrosaHTTP::NavigateComplete2Wrapper()
{
    if (error_ || navigated_ || reply_ == nullptr)
        return;
    // An error status is a failed navigation, as a browser reports it.
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    if (status.toInt() >= 400) {
        NavigateErrorWrapper();
        return;
    }
    navigated_ = true;
    timeout_.stop();
    polls_ = 0;
    poll_.start();
}

void TLirrosaHTTP::NavigateErrorWrapper()
{
    if (error_)
        return;
    error_ = true;
    Stop();
    if (OnError)
        OnError(this, kNetworkErrorText);
}

void TLirrosaHTTP::TimerWrapper()
{
    Stop();
    if (OnError)
        OnError(this, kTimeoutText);
}

void TLirrosaHTTP::Timer1Wrapper()
{
    timeout_.stop();
    if (polls_ > kMaxPolls - 1) {
        Stop();
        if (OnError)
            OnError(this, kTimeoutText);
        return;
    }
    ++polls_;
    if (reply_ == nullptr || !reply_->isFinished())
        return;
    poll_.stop();
    const std::string page = page_.toStdString();
    abandonReply();
    ServiceResponse response;
    if (!parseServiceResponse(page, response)) {
        if (OnDropped)
            OnDropped(this);
        return;
    }
    if (!OnOK)
        return;
    keys_.clear();
    values_.clear();
    for (const auto& [key, value] : response.lines) {
        keys_.push_back(key);
        values_.push_back(value);
    }
    OnOK(this, keys_, values_);
}

void TLirrosaHTTP::readPage()
{
    if (reply_ == nullptr)
        return;
    page_ += reply_->read(kLargestPage + 1 - page_.size());
    if (page_.size() > kLargestPage) {
        // Not an answer page: keep what came and stop receiving; the poll drops it.
        reply_->disconnect(this);
        reply_->abort();
    }
}
