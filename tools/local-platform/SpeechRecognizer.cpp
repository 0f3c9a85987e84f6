#include "SpeechRecognizer.h"

#include <pocketsphinx.h>


namespace nimbel::localplatform {

SpeechRecognizer::SpeechRecognizer(std::filesystem::path modelDirectory)
    : m_modelDirectory(std::move(modelDirectory))
{
}

SpeechRecognizer::~SpeechRecognizer()
{
    if (m_decoder)
        ps_free(m_decoder);
    if (m_config)
        cmd_ln_free_r(m_config);
}

Result<Done, Failure> SpeechRecognizer::loadLocked()
{
    if (m_decoder)
        return Done{};
    const auto acoustic = m_modelDirectory / "en-us";
    const auto language = m_modelDirectory / "en-us.lm.bin";
    const auto dictionary = m_modelDirectory / "cmudict-en-us.dict";
    std::error_code error;
    for (const auto &path : {acoustic, language, dictionary}) {
        if (!std::filesystem::exists(path, error))
            return Failure{"speech model file missing: " + path.string()};
    }
    // The decoder's own chatter would drown the request log.
    m_config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acoustic.c_str(), "-lm", language.c_str(), "-dict",
                           dictionary.c_str(), "-samprate", "16000", "-logfn", "/dev/null", nullptr);
    if (!m_config)
        return Failure{"speech recogniser configuration refused"};
    m_decoder = ps_init(m_config);
    if (!m_decoder) {
        cmd_ln_free_r(m_config);
        m_config = nullptr;
        return Failure{"speech recogniser could not load its model"};
    }
    return Done{};
}

Result<std::string, Failure> SpeechRecognizer::transcribe(const std::vector<std::int16_t> &samples)
{
    std::lock_guard lock(m_mutex);
    if (auto loaded = loadLocked(); !loaded)
        return loaded.error();
    if (ps_start_utt(m_decoder) < 0)
        return Failure{"speech recogniser could not start an utterance"};
    // The whole recording in one call: the decoder then normalises over this utterance
    // alone, so an answer does not depend on what was transcribed before it.
    if (ps_process_raw(m_decoder, samples.data(), samples.size(), FALSE, TRUE) < 0) {
        ps_end_utt(m_decoder);
        return Failure{"speech recogniser failed on the audio"};
    }
    if (ps_end_utt(m_decoder) < 0)
        return Failure{"speech recogniser could not finish the utterance"};
    int32 score = 0;
    const char *hypothesis = ps_get_hyp(m_decoder, &score);
    return std::string(hypothesis ? hypothesis : "");
}

} // namespace nimbel::localplatform
