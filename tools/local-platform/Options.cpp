#include "Options.h"

#include "Text.h"

#include <charconv>

namespace nimbel::localplatform {

namespace {

std::optional<int> number(const std::string &value, int minimum, int maximum)
{
    int n = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (error != std::errc() || end != value.data() + value.size() || n < minimum || n > maximum)
        return std::nullopt;
    return n;
}

} // namespace

std::string usage()
{
    return "usage: nimbel-local-platform [options]\n"
           "  --port N           port on 127.0.0.1 (default 4100; 0 picks a free one)\n"
           "  --script FILE      JSON script: agent, replies, transcripts, faults (re-read when it changes)\n"
           "  --state-dir DIR    keep issued API keys in DIR/keys.json across restarts\n"
           "  --token KEY        also accept this API key (may be repeated)\n"
           "  --chat-pause-ms N  pause between streamed sentences (default 150)\n"
           "  --transcription-delay-ms N  answer transcriptions N ms after their request at the earliest\n"
           "  --speech-delay-ms N  answer speech syntheses N ms after their request at the earliest\n"
           "  --model-dir DIR    PocketSphinx en-US model (default /usr/share/pocketsphinx/model/en-us)\n"
           "  --update-version V offer release V on the update feed, signed with a key made at start\n"
           "  --update-signing S good (default), wrong (another key) or none\n"
           "  --help             this text\n";
}

Result<Options, Failure> parseOptions(const std::vector<std::string> &arguments)
{
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); text::startsWith(name, "--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        const bool known = name == "--port" || name == "--script" || name == "--state-dir" || name == "--token"
            || name == "--chat-pause-ms" || name == "--model-dir" || name == "--update-version"
            || name == "--update-signing" || name == "--transcription-delay-ms" || name == "--speech-delay-ms";
        if (!known)
            return Failure{"unknown option " + name};
        if (!value) {
            if (i + 1 >= arguments.size())
                return Failure{name + " needs a value"};
            value = arguments[++i];
        }
        if (name == "--port") {
            const auto port = number(*value, 0, 65535);
            if (!port)
                return Failure{"--port must be a number from 0 to 65535"};
            options.port = *port;
        } else if (name == "--script") {
            options.script = *value;
        } else if (name == "--state-dir") {
            options.stateDirectory = *value;
        } else if (name == "--token") {
            const std::string token = text::trim(*value);
            if (token.empty())
                return Failure{"--token must not be blank"};
            options.tokens.push_back(token);
        } else if (name == "--chat-pause-ms") {
            const auto pause = number(*value, 0, 60000);
            if (!pause)
                return Failure{"--chat-pause-ms must be a number from 0 to 60000"};
            options.chatPauseMs = *pause;
        } else if (name == "--transcription-delay-ms" || name == "--speech-delay-ms") {
            const auto delay = number(*value, 0, 60000);
            if (!delay)
                return Failure{name + " must be a number from 0 to 60000"};
            (name == "--speech-delay-ms" ? options.speechDelayMs : options.transcriptionDelayMs) = *delay;
        } else if (name == "--model-dir") {
            options.modelDirectory = *value;
        } else if (name == "--update-version") {
            if (value->empty() || value->find_first_not_of("0123456789.") != std::string::npos)
                return Failure{"--update-version must be a dotted number such as 1.2.0"};
            options.updateVersion = *value;
        } else if (name == "--update-signing") {
            if (*value != "good" && *value != "wrong" && *value != "none")
                return Failure{"--update-signing must be good, wrong or none"};
            options.updateSigning = *value;
        }
    }
    return options;
}

} // namespace nimbel::localplatform
