#pragma once

#include "voice/AudioInput.h"
#include "voice/SpeechRecognizer.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

struct ps_decoder_s;

namespace nimbel {

// PocketSphinx with the models installed under `modelFolder` (one folder per
// language: "en-us" holds the acoustic model "en-us", "en-us.lm.bin" and
// "cmudict-en-us.dict"). Debian packages only the US English one. Decoders are
// loaded when first needed and reused; each serves one recognition at a time.
class PocketSphinxRecognizer final : public SpeechRecognizer, public LiveDraftRecognizer
{
public:
    explicit PocketSphinxRecognizer(QString modelFolder = QString());
    ~PocketSphinxRecognizer() override;

    bool supports(const QString &locale) const override;
    std::optional<QString> recognize(const QString &locale, const std::vector<std::int16_t> &samples) override;
    std::unique_ptr<LiveDraftSession> begin(const QString &locale, std::function<void(QString)> onText) override;

    // A decoder for the English model (loading it when none is idle); null when it cannot be loaded.
    ps_decoder_s *acquire();
    void release(ps_decoder_s *decoder);

private:
    QString modelPath(const char *name) const;

    QString m_folder;
    std::mutex m_lock;
    std::vector<ps_decoder_s *> m_idle;
};

} // namespace nimbel
