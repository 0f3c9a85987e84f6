#pragma once

#include "Script.h"

#include <optional>
#include <string>

namespace nimbel::localplatform {

// Speech as MP3: espeak-ng speaks the text into a WAV stream and lame encodes it. Both run
// as separate processes, the text travelling on standard input (never as an argument).
class SpeechSynthesizer
{
public:
    static constexpr int defaultWordsPerMinute = 175;

    // `language` "ru" picks the Russian voice, anything else American English. `pace` scales
    // the speaking rate (1 = normal).
    Result<std::string, Failure> synthesize(const std::string &text, const std::string &language,
                                            std::optional<double> pace) const;

    // espeak-ng's words per minute for a pace, kept within what the voice can do.
    static int wordsPerMinute(std::optional<double> pace);
};

} // namespace nimbel::localplatform
