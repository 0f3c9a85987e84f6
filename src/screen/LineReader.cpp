#include "screen/LineReader.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace nimbel {

LineReader::LineReader() = default;

LineReader::~LineReader()
{
    if (m_api)
        m_api->End();
}

bool LineReader::load(const QString &languages)
{
    // Initialisation sets Tesseract's process-wide parameters (the debug file
    // among them): two engines starting at once would race on them.
    static std::mutex initialisation;
    const std::lock_guard lock(initialisation);
    m_api = std::make_unique<tesseract::TessBaseAPI>();
    // The word lists of the older engine off: screen text is names, numbers
    // and addresses as often as words. The LSTM keeps its own (shared by every
    // engine of a language through Tesseract's cache, about 85 MB for the Latin
    // script): its search leans on them, and without them it reads accents and
    // short capitalised labels worse.
    std::vector<std::string> names{"load_system_dawg", "load_freq_dawg", "debug_file"};
    std::vector<std::string> values{"0", "0", "/dev/null"};
    const QByteArray language = languages.toUtf8();
    m_loaded = m_api->Init(nullptr, language.constData(), tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values,
                           false)
        == 0;
    if (m_loaded)
        m_api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    return m_loaded;
}

std::optional<LineReader::Reading> LineReader::read(const GrayImage &line, int pixelsPerInch)
{
    if (!m_loaded || line.isEmpty())
        return std::nullopt;
    m_api->SetImage(line.pixels.data(), line.width, line.height, 1, line.width);
    m_api->SetSourceResolution(pixelsPerInch);
    if (m_api->Recognize(nullptr) != 0) {
        m_api->Clear();
        return std::nullopt;
    }
    const std::unique_ptr<char[]> text(m_api->GetUTF8Text());
    Reading reading;
    reading.text = text ? QString::fromUtf8(text.get()) : QString();
    reading.confidence = m_api->MeanTextConf() / 100.0;
    if (const std::unique_ptr<tesseract::ResultIterator> symbols(m_api->GetIterator()); symbols) {
        do {
            int left = 0, top = 0, right = 0, bottom = 0;
            const std::unique_ptr<char[]> symbol(symbols->GetUTF8Text(tesseract::RIL_SYMBOL));
            if (symbol && symbols->BoundingBox(tesseract::RIL_SYMBOL, &left, &top, &right, &bottom)) {
                reading.lastSymbolLeft = left;
                reading.lastSymbolRight = right - 1;
                reading.lastSymbol = QString::fromUtf8(symbol.get());
            }
        } while (symbols->Next(tesseract::RIL_SYMBOL));
    }
    m_api->Clear();
    return reading;
}

} // namespace nimbel
