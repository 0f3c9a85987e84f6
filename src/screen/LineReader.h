#pragma once

#include "screen/GrayImage.h"

#include <QString>

#include <memory>
#include <optional>

namespace tesseract {
class TessBaseAPI;
}

namespace nimbel {

// One Tesseract engine that reads single, already normalised text lines.
// Not thread-safe: each worker owns its own reader.
class LineReader
{
public:
    struct Reading
    {
        QString text;      // as recognised, words separated by spaces
        double confidence = 0; // 0…1
        // Where the last recognised symbol sits in the line image, and its text.
        int lastSymbolLeft = -1;
        int lastSymbolRight = -1;
        QString lastSymbol;
    };

    LineReader();
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // Loads the LSTM models for `languages` ("eng+rus"); false when they are missing.
    bool load(const QString &languages);
    bool isLoaded() const { return m_loaded; }

    // Reads `line` (dark text on white) drawn at `pixelsPerInch`.
    std::optional<Reading> read(const GrayImage &line, int pixelsPerInch);

private:
    std::unique_ptr<tesseract::TessBaseAPI> m_api;
    bool m_loaded = false;
};

} // namespace nimbel
