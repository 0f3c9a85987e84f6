#pragma once

#include "Script.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

struct ps_decoder_s;
struct cmd_ln_s;

namespace nimbel::localplatform {

// English speech recognition with PocketSphinx and Debian's en-US model. The decoder is
// loaded on first use (it takes about a second) and serves one utterance at a time.
class SpeechRecognizer
{
public:
    static constexpr int sampleRate = 16000;

    explicit SpeechRecognizer(std::filesystem::path modelDirectory);
    ~SpeechRecognizer();
    SpeechRecognizer(const SpeechRecognizer &) = delete;
    SpeechRecognizer &operator=(const SpeechRecognizer &) = delete;

    // Samples must be 16 kHz mono. An utterance without recognisable speech gives "".
    Result<std::string, Failure> transcribe(const std::vector<std::int16_t> &samples);

private:
    Result<Done, Failure> loadLocked();

    std::mutex m_mutex;
    std::filesystem::path m_modelDirectory;
    cmd_ln_s *m_config = nullptr;
    ps_decoder_s *m_decoder = nullptr;
};

} // namespace nimbel::localplatform
