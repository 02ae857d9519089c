#pragma once
// The ringtone request to the online creation and delivery service and its answer: the
// checks of the delivery fields with their messages, the form-encoded request body, the
// "BEGIN" ... "END" answer page, its message escape codes, and what an answer means.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/Rtttl_writer.h"

inline const std::string kInvalidMailText = "Please enter valid email address!";
inline const std::string kInvalidPhoneText = "Please enter valid Phone Number!";
inline const std::string kPhoneEntryHint =
    "Enter your cell phone number including country\n and area codes eg. 13055551234 for the US resident.\n "
    "Please enter numbers only with no spaces or hyphens.";
inline const std::string kNoServiceAddressText =
    "The address of the online ringtone service is not set: the settings' url is empty.";
inline const std::string kUnknownErrorText = "Unknowing Error";
inline const std::string kNetworkErrorText = "Network error";
inline const std::string kTimeoutText = "Timeout";
inline const std::string kFormContentType = "application/x-www-form-urlencoded";

inline constexpr int kRequestTimeoutSeconds = 60;

// How the ringtone is to be delivered: the delivery options group of the ringtone page.
struct DeliveryChoice {
    bool sms = false;
    bool email = true;
    bool rtttl = true;
    bool midi = false;
    std::string mailTo;
    std::string phoneNumber;
};

// Which controls of the delivery options group can be used.
struct DeliveryControls {
    bool phoneNumber; // "Phone Number" and its field
    bool mail;        // "E-mail" and its field
    bool rtttl;
    bool midi;
    bool sms;
    bool receive;     // "Receive Ringtone"
};

// "RTTTL" or "MIDI " clicked: e-mail delivery is on exactly while one of them is checked;
// then as deliveryMailClicked.
void deliveryFormClicked(DeliveryChoice& choice);
// "Receive free by e-mail in:" clicked: e-mail delivery without a form gets RTTTL.
void deliveryMailClicked(DeliveryChoice& choice);
// The controls for a choice when the service offers `offered` (DelivOpt bits 1 RTTTL,
// 2 MIDI, 4 SMS): a form box needs e-mail delivery and the service's offer.
DeliveryControls deliveryControls(const DeliveryChoice& choice, uint32_t offered);

// The address holds "@" at its second character or later.
bool validMailAddress(const std::string& address);
// At least 8 characters, all of them digits.
bool validPhoneNumber(const std::string& number);

// The message of the first check the choice fails (e-mail when e-mail is chosen, then the
// phone number when SMS is), or empty text when the request may be sent.
std::string checkDelivery(const DeliveryChoice& choice);

// The "&dvropt=" value: 4 for SMS, and with e-mail 2 for MIDI and 1 for RTTTL.
int32_t deliveryOptionValue(const DeliveryChoice& choice);

// Free text as a form value: '%', '&', '+', space, control and non-ASCII bytes
// percent-encoded, so that the text cannot end its field or start another.
std::string formValue(const std::string& text);

// The request body: "aqt=rtc", the song and dotted-notes fields, "&mailto=" (also without
// e-mail delivery), "&phonen=" with SMS only, "&dvropt=", then the defaults and package
// fields. The mail address and phone number go in through formValue.
std::string requestBody(const MelodyFields& melody, const DeliveryChoice& choice);

// "http://" + url + uri, or empty text when url is empty (there is nowhere to send to).
std::string serviceAddress(const std::string& url, const std::string& uri);

// The key=value lines of an answer page, in page order.
struct ServiceResponse {
    std::vector<std::pair<std::string, std::string>> lines;

    // The value of the first line with this key; null when there is none.
    const std::string* find(std::string_view key) const;
};

// Parses the page's text. True when, without leading and trailing white space, it starts
// with "BEGIN" and ends with "END"; the separator after "BEGIN" and the CR LF before "END"
// are dropped and the rest is split into lines (at LF, a CR before it dropped). A line
// without "=" is a key with an empty value.
bool parseServiceResponse(std::string_view page, ServiceResponse& response);

// "##" becomes LF TAB, then "#?" LF and a space, then "#!-" LF TAB TAB; an occurrence at
// the very first character is left and ends the replacement of its code.
std::string replaceEscapeCodes(std::string text);

// What an answer says: its result code ("ok", "err" or another), the message to show
// (the message, LF, the second message), a new DeliveryOptions value and an update notice.
struct ServiceResult {
    std::string code;
    std::string message;
    std::optional<int32_t> deliveryOptions; // "dvropt" when it is a bit set 0..7
    std::optional<std::string> update;
};

ServiceResult interpretResponse(const ServiceResponse& response);
