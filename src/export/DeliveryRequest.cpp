#include "export/DeliveryRequest.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool isWhiteSpace(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isWhiteSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isWhiteSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

void replaceCode(std::string& text, const std::string& code, const std::string& replacement)
{
    for (size_t at = text.find(code); at != std::string::npos && at != 0; at = text.find(code))
        text.replace(at, code.size(), replacement);
}

std::optional<int32_t> deliveryOptionsOf(const std::string& text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > 7)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

} // namespace

void deliveryFormClicked(DeliveryChoice& choice)
{
    choice.email = choice.rtttl || choice.midi;
    deliveryMailClicked(choice);
}

void deliveryMailClicked(DeliveryChoice& choice)
{
    if (choice.email && !choice.rtttl && !choice.midi)
        choice.rtttl = true;
}

DeliveryControls deliveryControls(const DeliveryChoice& choice, uint32_t offered)
{
    DeliveryControls controls;
    controls.phoneNumber = choice.sms;
    controls.mail = choice.email;
    controls.rtttl = choice.email && (offered & 1) != 0;
    controls.midi = choice.email && (offered & 2) != 0;
    controls.sms = (offered & 4) != 0;
    controls.receive = choice.sms || choice.email;
    return controls;
}

bool validMailAddress(const std::string& address)
{
    const size_t at = address.find('@');
    return at != std::string::npos && at >= 1;
}

bool validPhoneNumber(const std::string& number)
{
    return number.size() >= 8 && number.find_first_not_of("0123456789") == std::string::npos;
}

std::string checkDelivery(const DeliveryChoice& choice)
{
    if (choice.email && !validMailAddress(choice.mailTo))
        return kInvalidMailText;
    if (choice.sms && !validPhoneNumber(choice.phoneNumber))
        return kInvalidPhoneText;
    return {};
}

int32_t deliveryOptionValue(const DeliveryChoice& choice)
{
    int32_t value = choice.sms ? 4 : 0;
    if (choice.email)
        value += (choice.midi ? 2 : 0) + (choice.rtttl ? 1 : 0);
    return value;
}

std::string formValue(const std::string& text)
{
    std::string value;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte >= 0x7F || c == '%' || c == '&' || c == '+') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            value += escaped;
        } else {
            value += c;
        }
    }
    return value;
}

std::string requestBody(const MelodyFields& melody, const DeliveryChoice& choice)
{
    std::string body = "aqt=rtc" + melody.song + melody.usedtnt;
    body += "&mailto=" + formValue(choice.mailTo);
    if (choice.sms)
        body += "&phonen=" + formValue(choice.phoneNumber);
    body += "&dvropt=" + std::to_string(deliveryOptionValue(choice));
    return body + melody.dfs + melody.mps;
}

std::string serviceAddress(const std::string& url, const std::string& uri)
{
    return url.empty() ? std::string() : "http://" + url + uri;
}

const std::string* ServiceResponse::find(std::string_view key) const
{
    for (const auto& [name, value] : lines)
        if (name == key)
            return &value;
    return nullptr;
}

bool parseServiceResponse(std::string_view page, ServiceResponse& response)
{
    const std::string_view text = trimmed(page);
    if (!text.starts_with("BEGIN") || !text.ends_with("END"))
        return false;
    response.lines.clear();
    constexpr size_t kFrame = 6 + 5; // "BEGIN", a separator, CR LF "END"
    std::string_view body = text.size() > kFrame ? text.substr(6, text.size() - kFrame) : std::string_view();
    while (!body.empty()) {
        const size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            response.lines.emplace_back(std::string(line), std::string());
        else
            response.lines.emplace_back(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
    }
    return true;
}

std::string replaceEscapeCodes(std::string text)
{
    replaceCode(text, "##", "\n\t");
    replaceCode(text, "#?", "\n ");
    replaceCode(text, "#!-", "\n\t\t");
    return text;
}

ServiceResult interpretResponse(const ServiceResponse& response)
{
    ServiceResult result;
    if (const std::string* code = response.find("rsp")) {
        result.code = *code;
        std::string message;
        std::string second;
        if (const std::string* text = response.find("rspmsg"))
            message = replaceEscapeCodes(*text);
        if (const std::string* text = response.find("rspmsg1"))
            second = replaceEscapeCodes(*text);
        result.message = message + "\n" + second;
    } else {
        result.code = "err";
        result.message = kUnknownErrorText + "\n";
    }
    if (const std::string* options = response.find("dvropt"))
        result.deliveryOptions = deliveryOptionsOf(*options);
    if (const std::string* update = response.find("update"))
        result.update = replaceEscapeCodes(*update);
    return result;
}
