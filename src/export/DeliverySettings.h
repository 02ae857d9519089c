#pragma once
// The stored parts of a ringtone request: the e-mail address and phone number last sent
// (key "Info") and the delivery options the service offers (DelivOpt), and the request
// made ready from the ringtone page's values.

#include <string>

#include "export/DeliveryRequest.h"
#include "export/Rtttl_writer.h"

// LastMailTo and PhoneNumber, read when the export dialog is created; each stays empty
// when it cannot be read.
void loadDeliveryFields(std::string& mailTo, std::string& phoneNumber);

// LastMailTo, and PhoneNumber when SMS delivery is chosen.
void storeDeliveryFields(const DeliveryChoice& choice);

// A "dvropt" of the service: the DeliveryOptions in force and DelivOpt in the registry.
bool storeDeliveryOptions(int32_t options);

// The ringtone page's values of one request.
struct RingtoneRequest {
    const NoteSequence* notes = nullptr;
    std::string songName = kDefaultSongName;
    bool useDottedNotes = false;
    RingtoneDefaults defaults;
    DeliveryChoice choice;
};

// The body of the request, storing the delivery fields on the way; false (nothing stored)
// when there is no note to send. The checks of checkDelivery come first, by the caller.
bool prepareRingtoneRequest(const RingtoneRequest& request, const SongSettings& song,
                            const RingtoneSettings& ringtone, std::string& body);
