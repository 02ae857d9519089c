#include "export/F_inet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "export/DeliveryRequest.h"
#include "export/DeliverySettings.h"
#include "export/F_export.h"
#include "platform/UserNotifier.h"
#include "settings/My_registry.h"

namespace {

const char* const kCaption = "Zavo On-line creation and delivery service";
constexpr int kAnimationIntervalMs = 500;
constexpr int kAnimationSteps = 11;

} // namespace

TfInet::TfInet(TfExport& owner) : QDialog(&owner, Qt::Dialog | Qt::WindowStaysOnTopHint), owner_(owner)
{
    setObjectName("fInet");
    setWindowTitle(kCaption);
    address_ = serviceAddress(settingsStore.url, settingsStore.uri);
    url_ = settingsStore.url;

    message_ = new QLabel;
    message_->setObjectName("l_Msg");
    message_->setWordWrap(true);
    message_->setFixedSize(297, 77);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    go_ = new QPushButton("Go");
    go_->setObjectName("b_Go");
    auto* close = new QPushButton("Close");
    close->setObjectName("b_Close");
    status_ = new QLineEdit;
    status_->setObjectName("l_Status");
    status_->setReadOnly(true);
    connect(go_, &QPushButton::clicked, this, [this] { b_GoClick(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    timer1_.setInterval(kAnimationIntervalMs);
    connect(&timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
    ht_.OnOK = [this](TLirrosaHTTP*, const std::vector<std::string>& keys, const std::vector<std::string>& values) {
        htOK(keys, values);
    };
    ht_.OnError = [this](TLirrosaHTTP*, const std::string& message) { htError(message); };

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(go_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message_);
    layout->addLayout(buttons);
    layout->addWidget(status_);
    setFixedSize(318, 150);
}

TfInet::~TfInet()
{
    ht_.OnOK = nullptr;
    ht_.OnError = nullptr;
}

void TfInet::b_GoClick()
{
    go_->setText(goTag_ > 9 ? "Go" : "Stop");
    if (goTag_ == kGoReady) {
        goTag_ = kGoRunning;
        sendRequest();
    } else if (goTag_ == kGoRunning) {
        stopByUser();
    }
}

void TfInet::stopByUser()
{
    goTag_ = kGoReady;
    timer1_.stop();
    ht_.Stop();
    go_->setText("Go");
    status_->setText(QString::fromStdString(kStoppedByUserText));
    owner_.setRequestPending(false);
}

void TfInet::sendRequest()
{
    if (address_.empty()) {
        // Nowhere to send to: ready again, with the reason.
        goTag_ = kGoReady;
        go_->setText("Go");
        message_->setText(QString::fromStdString(kNoServiceAddressText));
        return;
    }
    std::string body;
    if (!prepareRingtoneRequest(owner_.ringtoneRequest(), songSettings, ringtoneSettings, body)) {
        goTag_ = kGoReady;
        go_->setText("Go");
        return;
    }
    counter_ = 0;
    timer1_.start();
    status_->setText(QString::fromStdString("Connecting to " + url_));
    owner_.setRequestPending(true);
    if (!ht_.Request(address_, body, kRequestTimeoutSeconds, body.size()))
        htError(kNetworkErrorText);
}

void TfInet::Timer1Timer()
{
    counter_ = counter_ % kAnimationSteps + 1;
    status_->setText(QString::fromStdString("Connecting to " + url_ + " " + std::string(counter_, '*')));
}

void TfInet::htOK(const std::vector<std::string>& keys, const std::vector<std::string>& values)
{
    timer1_.stop();
    status_->setText("Done");
    ServiceResponse response;
    for (size_t i = 0; i < keys.size() && i < values.size(); ++i)
        response.lines.emplace_back(keys[i], values[i]);
    const ServiceResult result = interpretResponse(response);
    message_->setText(QString::fromStdString(result.message));
    if (result.deliveryOptions)
        storeDeliveryOptions(*result.deliveryOptions);
    finishRequest();
    go_->setEnabled(false);
    if (result.update)
        userNotifier().show(*result.update, kCaption, MessageIcon::Information, MessageButtons::Ok);
}

void TfInet::htError(const std::string& message)
{
    timer1_.stop();
    status_->setText(QString::fromStdString("Error: " + message));
    finishRequest();
}

void TfInet::finishRequest()
{
    timer1_.stop();
    ht_.Stop();
    go_->setText("Go");
    goTag_ /= 10;
    owner_.setRequestPending(false);
}

// Closing the window while a request runs stops it.
void TfInet::done(int result)
{
    if (goTag_ == kGoRunning)
        stopByUser();
    QDialog::done(result);
}
