#include "voice/linux/PocketSphinxRecognizer.h"

#include "voice/SampleRing.h"

#include <pocketsphinx.h>

#include <QFileInfo>

#include <atomic>
#include <thread>

namespace nimbel {

namespace {

constexpr char englishLocale[] = "en-US";

// Runs a decoder over the recording as it arrives, reporting the running hypothesis.
class PocketSphinxDraft final : public LiveDraftSession
{
public:
    PocketSphinxDraft(PocketSphinxRecognizer &recognizer, std::function<void(QString)> onText)
        : m_recognizer(recognizer)
        , m_onText(std::move(onText))
        , m_ring(16000 * 20)
        , m_worker([this] { run(); })
    {
    }

    ~PocketSphinxDraft() override
    {
        m_running = false;
        m_wakeups.fetch_add(1);
        m_wakeups.notify_one();
        m_worker.join();
    }

    void append(const std::int16_t *samples, std::size_t count) override
    {
        // The draft is best effort: what does not fit is dropped, the recording is not held up.
        m_ring.push(samples, count);
        m_wakeups.fetch_add(1, std::memory_order_release);
        m_wakeups.notify_one();
    }

private:
    void run()
    {
        ps_decoder_t *decoder = m_recognizer.acquire();
        if (!decoder)
            return;
        ps_start_utt(decoder);
        constexpr std::size_t chunk = 1600; // 0.1 s
        std::vector<std::int16_t> samples(chunk);
        std::size_t sinceHypothesis = 0;
        QString last;
        while (m_running.load()) {
            const unsigned seen = m_wakeups.load(std::memory_order_acquire);
            while (m_running.load() && m_ring.pop(samples.data(), chunk)) {
                ps_process_raw(decoder, samples.data(), chunk, FALSE, FALSE);
                sinceHypothesis += chunk;
                if (sinceHypothesis >= 3 * chunk) {
                    sinceHypothesis = 0;
                    const char *hypothesis = ps_get_hyp(decoder, nullptr);
                    const QString text = QString::fromUtf8(hypothesis ? hypothesis : "").trimmed();
                    if (text != last) {
                        last = text;
                        m_onText(text);
                    }
                }
            }
            if (m_running.load())
                m_wakeups.wait(seen, std::memory_order_acquire);
        }
        ps_end_utt(decoder);
        m_recognizer.release(decoder);
    }

    PocketSphinxRecognizer &m_recognizer;
    std::function<void(QString)> m_onText;
    Ring<std::int16_t> m_ring;
    std::atomic<bool> m_running{true};
    std::atomic<unsigned> m_wakeups{0};
    std::thread m_worker;
};

} // namespace

PocketSphinxRecognizer::PocketSphinxRecognizer(QString modelFolder)
    : m_folder(modelFolder.isEmpty() ? QStringLiteral(NIMBEL_SPHINX_MODEL_DIR) : std::move(modelFolder))
{
}

PocketSphinxRecognizer::~PocketSphinxRecognizer()
{
    for (ps_decoder_t *decoder : m_idle)
        ps_free(decoder);
}

QString PocketSphinxRecognizer::modelPath(const char *name) const
{
    return m_folder + QStringLiteral("/en-us/") + QString::fromLatin1(name);
}

bool PocketSphinxRecognizer::supports(const QString &locale) const
{
    // No Russian model is packaged; only the US English one can be present.
    return locale == QLatin1String(englishLocale) && QFileInfo(modelPath("en-us/mdef")).isFile()
           && QFileInfo(modelPath("en-us.lm.bin")).isFile() && QFileInfo(modelPath("cmudict-en-us.dict")).isFile();
}

ps_decoder_t *PocketSphinxRecognizer::acquire()
{
    {
        const std::lock_guard guard(m_lock);
        if (!m_idle.empty()) {
            ps_decoder_t *decoder = m_idle.back();
            m_idle.pop_back();
            return decoder;
        }
    }
    if (!supports(QLatin1String(englishLocale)))
        return nullptr;
    const QByteArray hmm = modelPath("en-us").toLocal8Bit();
    const QByteArray lm = modelPath("en-us.lm.bin").toLocal8Bit();
    const QByteArray dict = modelPath("cmudict-en-us.dict").toLocal8Bit();
    cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
                                   dict.constData(), "-logfn", "/dev/null", nullptr);
    if (!config)
        return nullptr;
    ps_decoder_t *decoder = ps_init(config);
    // The decoder holds its own reference to the configuration.
    cmd_ln_free_r(config);
    return decoder;
}

void PocketSphinxRecognizer::release(ps_decoder_t *decoder)
{
    const std::lock_guard guard(m_lock);
    m_idle.push_back(decoder);
}

std::optional<QString> PocketSphinxRecognizer::recognize(const QString &locale,
                                                         const std::vector<std::int16_t> &samples)
{
    if (!supports(locale))
        return std::nullopt;
    ps_decoder_t *decoder = acquire();
    if (!decoder)
        return std::nullopt;
    std::optional<QString> text;
    if (ps_start_utt(decoder) == 0) {
        const bool processed = samples.empty()
                               || ps_process_raw(decoder, samples.data(), samples.size(), FALSE, TRUE) >= 0;
        ps_end_utt(decoder);
        if (processed) {
            const char *hypothesis = ps_get_hyp(decoder, nullptr);
            text = QString::fromUtf8(hypothesis ? hypothesis : "");
        }
    }
    release(decoder);
    return text;
}

std::unique_ptr<LiveDraftSession> PocketSphinxRecognizer::begin(const QString &locale,
                                                                std::function<void(QString)> onText)
{
    if (!supports(locale))
        return nullptr;
    return std::make_unique<PocketSphinxDraft>(*this, std::move(onText));
}

} // namespace nimbel
