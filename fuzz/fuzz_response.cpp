// Feeds arbitrary pages to the parser of the ringtone service's answer and checks what it
// accepts: only pages framed by "BEGIN" and "END", keys without "=" and values without
// a line break, and an interpretation whose delivery options are a bit set 0..7.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "export/DeliveryRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    ServiceResponse response;
    if (!parseServiceResponse(page, response))
        return 0;
    if (page.find("BEGIN") == std::string_view::npos || page.rfind("END") == std::string_view::npos)
        std::abort();
    for (const auto& [key, value] : response.lines) {
        if (key.find('=') != std::string::npos || key.find('\n') != std::string::npos ||
            value.find('\n') != std::string::npos)
            std::abort();
        if (replaceEscapeCodes(value).size() > 2 * value.size())
            std::abort();
    }
    const ServiceResult result = interpretResponse(response);
    if (result.deliveryOptions && (*result.deliveryOptions < 0 || *result.deliveryOptions > 7))
        std::abort();
    return 0;
}
