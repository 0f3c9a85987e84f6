#pragma once

#include "screen/LineReadingCache.h"
#include "screen/RecognizedScreenText.h"

#include <QImage>
#include <QString>

#include <future>
#include <memory>
#include <mutex>
#include <vector>

namespace nimbel {

class GlyphMatcher;

// On-device text recognition of a screenshot: our own line detector finds the
// text lines, each line is normalised (dark on white) and read as a single
// line by Tesseract's LSTM engine. The engines (one per worker, each with its
// own copy of the models) are loaded once, in the background, when the
// recogniser is built; the lines of one image are shared among the workers.
//
// Synchronous and serial: one call at a time (further callers wait), from any
// thread. Build it where a QGuiApplication exists: the shapes of signs the
// models lack are drawn with the desktop's fonts.
class TextRecognizer
{
public:
    struct Options
    {
        // A line is read with the model of one alphabet: the one most lines
        // of the screen are in first, the other when that reading does not
        // settle the line's alphabet (see ScriptConsistency.h). The Latin
        // script model reads the letters of every Latin alphabet ("ø", "ł",
        // "ß", "ñ") and code's punctuation better than the English one.
        QString latinLanguage = QStringLiteral("Latin");
        QString cyrillicLanguage = QStringLiteral("rus");
        // Lines neither settles (a heading in both languages) are read by
        // both languages at once, word by word.
        QString mixedLanguages = QStringLiteral("eng+rus");
        int workers = 2;
        double minimumTextHeight = 0.012; // fraction of the image height
        double minimumConfidence = 0.3;
        // Line readings remembered by their pixels (see LineReadingCache):
        // a few thousand lines of text, well under a megabyte.
        std::size_t cachedReadings = 4096;
        std::size_t cachedReadingBytes = 2 * 1024 * 1024;
    };

    // What the last call did: lines found, and readings taken from the cache
    // or made by an engine (a line may be read by more than one).
    struct ReadingCounts
    {
        std::size_t lines = 0;
        std::size_t cached = 0;
        std::size_t read = 0;
        // Where the lines confident enough to keep that were withheld as
        // secrets are, in the image.
        std::vector<NormalizedRect> withheld;
    };

    TextRecognizer();
    explicit TextRecognizer(Options options);
    ~TextRecognizer();
    TextRecognizer(const TextRecognizer &) = delete;
    TextRecognizer &operator=(const TextRecognizer &) = delete;

    // Blocks until the models are loaded; false when no engine could be started.
    bool waitUntilReady();

    // The lines of `image` that may leave the device: cleaned, confident
    // enough, never sensitive, in reading order. Empty when recognition fails.
    std::vector<RecognizedScreenText> recognizeText(const QImage &image);
    ReadingCounts lastCounts() const;
    std::size_t cachedReadingCount() const;

private:
    struct Worker;
    template<typename Work>
    void inParallel(const std::vector<std::size_t> &items, Work work);

    Options m_options;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::unique_ptr<GlyphMatcher> m_signs;
    std::shared_future<bool> m_ready;
    mutable std::mutex m_serial;
    LineReadingCache m_cache;
    ReadingCounts m_counts;
};

} // namespace nimbel
