#include "export/DeliverySettings.h"

#include "settings/My_registry.h"

void loadDeliveryFields(std::string& mailTo, std::string& phoneNumber)
{
    if (!RegAccessString(false, "LastMailTo", mailTo, kInfoKey))
        mailTo.clear();
    if (!RegAccessString(false, "PhoneNumber", phoneNumber, kInfoKey))
        phoneNumber.clear();
}

void storeDeliveryFields(const DeliveryChoice& choice)
{
    std::string mailTo = choice.mailTo;
    RegAccessString(true, "LastMailTo", mailTo, kInfoKey);
    if (choice.sms) {
        std::string phoneNumber = choice.phoneNumber;
        RegAccessString(true, "PhoneNumber", phoneNumber, kInfoKey);
    }
}

bool storeDeliveryOptions(int32_t options)
{
    settingsStore.deliveryOptions = static_cast<DeliveryOptions>(options);
    return RegAccessInteger(true, "DelivOpt", options, kSettingsKey);
}

bool prepareRingtoneRequest(const RingtoneRequest& request, const SongSettings& song,
                            const RingtoneSettings& ringtone, std::string& body)
{
    MelodyFields melody;
    if (!BuildMelodyFields(request.notes, formValue(request.songName), request.useDottedNotes, request.defaults,
                           song, ringtone, melody))
        return false;
    storeDeliveryFields(request.choice);
    body = requestBody(melody, request.choice);
    return true;
}
