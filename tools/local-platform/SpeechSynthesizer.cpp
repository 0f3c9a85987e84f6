#include "SpeechSynthesizer.h"

#include "Subprocess.h"

#include <algorithm>
#include <cmath>

namespace nimbel::localplatform {

namespace {

constexpr std::chrono::seconds processLimit{20};

std::string brief(const std::string &errors)
{
    const std::string firstLine = errors.substr(0, errors.find('\n'));
    return firstLine.empty() ? std::string("no message") : firstLine.substr(0, 200);
}

} // namespace

int SpeechSynthesizer::wordsPerMinute(std::optional<double> pace)
{
    if (!pace || !std::isfinite(*pace) || *pace <= 0)
        return defaultWordsPerMinute;
    return std::clamp(static_cast<int>(std::lround(defaultWordsPerMinute * *pace)), 80, 450);
}

Result<std::string, Failure> SpeechSynthesizer::synthesize(const std::string &text, const std::string &language,
                                                           std::optional<double> pace) const
{
    const std::string voice = language == "ru" ? "ru" : "en-us";
    const auto speech = runProcess(
        {"espeak-ng", "-v", voice, "-s", std::to_string(wordsPerMinute(pace)), "--stdin", "--stdout"}, text + "\n",
        processLimit);
    if (!speech)
        return Failure{"espeak-ng could not be started"};
    if (speech->timedOut || speech->exitCode != 0 || speech->output.size() <= 44)
        return Failure{"espeak-ng failed: " + brief(speech->errors)};

    const auto mp3 = runProcess({"lame", "--quiet", "-", "-"}, speech->output, processLimit);
    if (!mp3)
        return Failure{"lame could not be started"};
    if (mp3->timedOut || mp3->exitCode != 0 || mp3->output.empty())
        return Failure{"lame failed: " + brief(mp3->errors)};
    return mp3->output;
}

} // namespace nimbel::localplatform
