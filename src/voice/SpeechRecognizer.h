#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace nimbel {

// Speech recognition on this machine.
class SpeechRecognizer
{
public:
    virtual ~SpeechRecognizer() = default;
    // Whether a model is installed for `locale` ("en-US", "ru-RU").
    virtual bool supports(const QString &locale) const = 0;
    // The text of 16 kHz mono samples; blocks, callable from any thread.
    // Nothing when recognition itself failed.
    virtual std::optional<QString> recognize(const QString &locale, const std::vector<std::int16_t> &samples) = 0;
};

} // namespace nimbel
