#pragma once

#include "core/ErrorDescription.h"
#include "core/Result.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>

namespace nimbel {

class SpeechRecognizer;

// Turns a recorded turn into text on this machine: the fallback when the
// platform cannot transcribe it.
class OnDeviceTranscriber
{
public:
    class TranscriberError
    {
    public:
        enum Case { unavailable, notAuthorized, emptyTranscript };

        TranscriberError(Case value, QString locale = {})
            : m_case(value)
            , m_locale(std::move(locale))
        {
        }
        static TranscriberError unavailableFor(const QString &locale) { return {unavailable, locale}; }

        Case value() const { return m_case; }
        // The locale an `unavailable` error names.
        const QString &locale() const { return m_locale; }
        const char *localizationKey() const;
        QString message() const;
        ZelmRecovery recovery() const;
        bool isPermissionProblem() const { return m_case == notAuthorized; }
        ErrorDescription toDescription() const { return {message(), recovery(), isPermissionProblem()}; }
        bool operator==(const TranscriberError &) const = default;

    private:
        Case m_case;
        QString m_locale;
    };

    explicit OnDeviceTranscriber(SpeechRecognizer &recognizer);

    // "ru-RU" for a language code beginning with "ru" (any case), else "en-US".
    static QString locale(const QString &language);
    // Local models need no one's permission.
    static bool requestAuthorization() { return true; }

    // The trimmed, non-empty transcript of a recording (RIFF WAVE; any rate is
    // brought to 16 kHz mono). Recognition runs on a worker thread.
    QCoro::Task<Result<QString, TranscriberError>> transcribe(QByteArray wavData, QString language);

private:
    SpeechRecognizer &m_recognizer;
};

} // namespace nimbel
