#include "cli/RingtoneCommand.h"

#include <strings.h>
#include <sys/stat.h>

#include <QCoreApplication>

#include <cstdio>
#include <string>

#include "cli/CommandLine.h"
#include "cli/TerminalSession.h"
#include "export/DeliverySettings.h"
#include "export/Lirrosahttp.h"
#include "midi/SmfReader.h"
#include "midi/SmfWriter.h"
#include "notes/Tksds.h"
#include "platform/VirtualWaveDriver.h"
#include "settings/My_registry.h"

namespace {

constexpr size_t kLongestSongName = 15;

struct RingtoneOptions {
    std::string input;
    std::string output;
    std::string name = kDefaultSongName;
    int tempo = 0; // 0: the ringtone page's initial tempo
    bool force = false;
    bool send = false;
    std::string mailTo; // empty: the address last sent
    std::string phoneNumber;
    bool mailGiven = false;
    bool dotted = false; // ask the service for dotted note values
};

bool isMidiFile(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    return dot != std::string::npos &&
           (strcasecmp(path.c_str() + dot, ".mid") == 0 || strcasecmp(path.c_str() + dot, ".midi") == 0);
}

int parseOptions(const std::vector<std::string>& args, RingtoneOptions& options)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-o" || arg == "--output") {
            if (!hasValue)
                return usageError("-o needs a file name");
            options.output = args[++i];
        } else if (arg == "--name") {
            if (!hasValue || args[i + 1].size() > kLongestSongName)
                return usageError("--name needs a song name of at most 15 characters");
            options.name = args[++i];
        } else if (arg == "--tempo") {
            if (!hasValue || !parseInteger(args[i + 1], kRingtoneTempos[0], kRingtoneTempos[31], options.tempo))
                return usageError("--tempo needs a tempo from 25 to 900 beats per minute");
            ++i;
        } else if (arg == "--mail") {
            if (!hasValue)
                return usageError("--mail needs an e-mail address");
            options.mailTo = args[++i];
            options.mailGiven = true;
        } else if (arg == "--phone") {
            if (!hasValue)
                return usageError("--phone needs a phone number");
            options.phoneNumber = args[++i];
        } else if (arg == "--dotted") {
            options.dotted = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--send") {
            options.send = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError("unknown option '" + arg + "' for ringtone");
        } else if (options.input.empty()) {
            options.input = arg;
        } else {
            return usageError("only one melody can be made a ringtone at a time");
        }
    }
    if (options.input.empty())
        return usageError("ringtone needs IN.wav or IN.mid");
    if (options.output == options.input)
        return usageError("the output file cannot be the input file");
    if (!options.send && (options.mailGiven || !options.phoneNumber.empty() || options.dotted))
        return usageError("--mail, --phone and --dotted go with --send");
    return 0;
}

// Puts the melody of IN into `session`'s controller, recognised; empty text, or why not.
std::string takeMelody(TerminalSession& session, const std::string& path)
{
    if (isMidiFile(path)) {
        SmfContents contents;
        std::string error;
        if (!readMidiFile(path, contents, error))
            return error;
        NoteSequence notes; // before the file's song settings are applied: it resets them
        if (!notesFromMidiFile(contents, notes, songSettings) || !session.controller.loadNotes(notes))
            return "the file holds no notes; there is no melody to make a ringtone of.";
        return {};
    }
    if (const std::string problem = session.convertFile(path); !problem.empty())
        return problem;
    if (session.controller.notes().count == 0)
        return "no sung, hummed or whistled melody was found.";
    return {};
}

bool fileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Posts the request and waits for the answer; the exit status.
int sendRequest(const std::string& address, const std::string& body)
{
    int argc = 1;
    char name[] = "lirrosa-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    TLirrosaHTTP http;
    int status = 1;
    http.OnOK = [&](TLirrosaHTTP*, const std::vector<std::string>& keys, const std::vector<std::string>& values) {
        ServiceResponse response;
        for (size_t i = 0; i < keys.size(); ++i)
            response.lines.emplace_back(keys[i], values[i]);
        const ServiceResult result = interpretResponse(response);
        if (result.deliveryOptions)
            storeDeliveryOptions(*result.deliveryOptions);
        std::printf("%s\n", result.message.c_str());
        if (result.update)
            std::printf("%s\n", result.update->c_str());
        if (result.code == "ok")
            status = 0;
        else
            std::fprintf(stderr, "lirrosa-cli: the service did not take the request (answer \"%s\").\n",
                         result.code.c_str());
        application.quit();
    };
    http.OnError = [&](TLirrosaHTTP*, const std::string& message) {
        status = fail("the ringtone request failed: Error: " + message);
        application.quit();
    };
    http.OnDropped = [&](TLirrosaHTTP*) {
        status = fail("the service answered with a page that is not a ringtone answer.");
        application.quit();
    };
    if (!http.Request(address, body, kRequestTimeoutSeconds, body.size()))
        return fail("the service address '" + address + "' is not an http address.");
    std::fprintf(stderr, "Sending the ringtone request to %s ...\n", address.c_str());
    application.exec();
    return status;
}

int send(const RingtoneOptions& options, const RingtoneDefaults& defaults, const NoteSequence& notes)
{
    if (!SettingsInstalled())
        return fail(kRunSetupText);
    LoadStartupSettings();
    const std::string address = serviceAddress(settingsStore.url, settingsStore.uri);
    if (address.empty())
        return fail(kNoServiceAddressText);

    RingtoneRequest request;
    request.notes = &notes;
    request.songName = options.name;
    request.defaults = defaults;
    request.useDottedNotes = options.dotted;
    std::string storedPhone;
    loadDeliveryFields(request.choice.mailTo, storedPhone);
    if (options.mailGiven)
        request.choice.mailTo = options.mailTo;
    request.choice.sms = !options.phoneNumber.empty();
    request.choice.phoneNumber = options.phoneNumber;
    if (request.choice.sms && (settingsStore.deliveryOptions & kDeliverSms) == 0)
        return fail("the service does not offer delivery by SMS (DelivOpt " +
                    std::to_string(settingsStore.deliveryOptions) + ").");
    if (const std::string problem = checkDelivery(request.choice); !problem.empty())
        return fail(problem);
    std::string body;
    if (!prepareRingtoneRequest(request, songSettings, ringtoneSettings, body))
        return fail("there are no notes to send.");
    return sendRequest(address, body);
}

} // namespace

int runRingtoneCommand(const std::vector<std::string>& args)
{
    RingtoneOptions options;
    if (const int usage = parseOptions(args, options))
        return usage;
    if (!options.output.empty() && !options.force && fileExists(options.output))
        return fail("'" + options.output + "' exists; use --force to overwrite it");

    VirtualWaveDriver noDevices(nullptr);
    noDevices.removeDevices();
    TerminalSession session(TerminalSeam::Status::None, noDevices);
    if (const std::string problem = takeMelody(session, options.input); !problem.empty())
        return fail("cannot make a ringtone of '" + options.input + "': " + problem);

    const NoteSequence& notes = session.controller.notes();
    RingtoneDefaults defaults = RingtoneFromRecognition(ringtoneSettings);
    if (options.tempo > 0)
        applyRingtoneTempo(nearestRingtoneTempoIndex(options.tempo), ringtoneSettings, defaults);
    const std::string text = rtttlText(notes, songSettings, ringtoneSettings, defaults, options.name);

    if (options.output.empty()) {
        std::printf("%s\n", text.c_str());
    } else {
        std::string error;
        const std::string line = text + "\n";
        if (!writeFileAtomically(options.output, std::vector<uint8_t>(line.begin(), line.end()), error))
            return fail(error);
        std::printf("RTTTL text written: %s\n", options.output.c_str());
    }
    std::fflush(stdout);
    return options.send ? send(options, defaults, notes) : 0;
}
