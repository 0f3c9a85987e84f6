#include "screen/TextRecognizer.h"

#include "screen/GlyphMatcher.h"
#include "screen/GrayImage.h"
#include "screen/LineReader.h"
#include "screen/ScreenTextRules.h"
#include "screen/ScriptConsistency.h"
#include "screen/TextLineDetector.h"

#include <dlfcn.h>

#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace nimbel {

namespace {

// Tesseract's LSTM starts a team of OpenMP threads for every step of every
// line; on a small machine that costs more than it gains (three times slower
// here) and fights our own workers for the cores. Parallelism is ours: one
// engine per worker, whole lines per engine.
// The OpenMP runtime comes with the Tesseract library (when it was built with
// it), so it is looked up rather than linked. The setting belongs to the
// calling thread: every thread that reads lines makes it.
void keepTesseractSingleThreaded()
{
    using SetMaxActiveLevels = void (*)(int);
    static const auto set = reinterpret_cast<SetMaxActiveLevels>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    if (set)
        set(0);
}

// Lines below this height are read at double size: the recogniser's
// binarisation and segmentation lose thin strokes of small text.
constexpr int upscaleBelowHeight = 20;
constexpr int screenPixelsPerInch = 96;
constexpr double capHeightShare = 0.75;
// The LSTM's work grows with the width of a line once it is scaled to the
// network's input height. Screen fonts are set wider than the print it was
// trained on, and it reads them as well at three quarters of their width
// (measured on our screenshots), at three quarters of the cost.
constexpr double readingWidthShare = 0.75;

// The rouble sign after an amount ("1 200,00 ₽"): no model has a letter for
// it, so whatever was read there is checked against its shape.
// `line` is the line at its own proportions; the reading's symbol boxes are
// in the narrowed image it was read from.
void withRoubleSign(LineReader::Reading &reading, const GrayImage &line, const GlyphMatcher &signs)
{
    static const QString rouble = QStringLiteral("₽");
    if (!signs.isAvailable() || !reading.text.contains(QRegularExpression(QStringLiteral("\\d"))))
        return;
    const std::optional<Glyph> glyph = trailingGlyph(line);
    if (!glyph || glyph->gapBefore < 0)
        return;
    const auto match = signs.bestMatch(*glyph);
    if (!match || match->sign != rouble)
        return;
    QString text = reading.text.trimmed();
    const bool symbolIsTheSign = reading.lastSymbolRight / readingWidthShare >= glyph->left
        && reading.lastSymbolLeft / readingWidthShare <= glyph->right;
    if (symbolIsTheSign && !reading.lastSymbol.isEmpty() && text.endsWith(reading.lastSymbol))
        text.chop(reading.lastSymbol.size());
    text = text.trimmed();
    const bool spaced = glyph->gapBefore * 4 >= glyph->height();
    reading.text = text + (spaced ? QStringLiteral(" ") : QString()) + rouble;
}

// A first reading that had to guess at accented Latin: the combined engine
// knows a few accented letters and puts them where others stood ("Zoé" for
// "Zoë"), and reads an umlaut's two dots as "ii" ("Miinchen").
bool guessesAtAccents(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 128 && c.isLetter() && c.script() == QChar::Script_Latin)
            return true;
    }
    return text.contains(QLatin1String("ii"));
}

} // namespace

// The engines of one worker: both languages (Tesseract picks the better
// reading word by word), and each language alone and accented Latin for
// second looks.
struct TextRecognizer::Worker
{
    LineReader bothLanguages;
    LineReader latin;
    LineReader cyrillic;
    LineReader accentedLatin;

    bool load(const Options &options)
    {
        const bool loaded = bothLanguages.load(options.latinLanguage + QLatin1Char('+') + options.cyrillicLanguage)
            && latin.load(options.latinLanguage) && cyrillic.load(options.cyrillicLanguage);
        // Optional: without it, accents stay as the first reading had them.
        if (loaded && !options.accentedLatinLanguage.isEmpty())
            accentedLatin.load(options.accentedLatinLanguage);
        return loaded;
    }
    LineReader &reader(LineReadingCache::Engine engine)
    {
        switch (engine) {
        case LineReadingCache::Engine::latin:
            return latin;
        case LineReadingCache::Engine::cyrillic:
            return cyrillic;
        case LineReadingCache::Engine::accentedLatin:
            return accentedLatin.isLoaded() ? accentedLatin : bothLanguages;
        case LineReadingCache::Engine::combined:
            break;
        }
        return bothLanguages;
    }
};

TextRecognizer::TextRecognizer()
    : TextRecognizer(Options())
{
}

TextRecognizer::TextRecognizer(Options options)
    : m_options(std::move(options))
    , m_cache(m_options.cachedReadings, m_options.cachedReadingBytes)
{
    m_signs = std::make_unique<GlyphMatcher>(QStringLiteral("₽PРRBВ2&8?9%$€"));
    const int workers = std::max(1, m_options.workers);
    for (int i = 0; i < workers; ++i)
        m_workers.push_back(std::make_unique<Worker>());
    // Loading the models takes a while: do it out of the caller's way (one
    // engine after the other, see LineReader::load).
    m_ready = std::async(std::launch::async, [this] {
                  bool loaded = true;
                  for (auto &worker : m_workers)
                      loaded = worker->load(m_options) && loaded;
                  return loaded;
              }).share();
}

TextRecognizer::~TextRecognizer()
{
    if (m_ready.valid())
        m_ready.wait();
}

bool TextRecognizer::waitUntilReady()
{
    return m_ready.get();
}

template<typename Work>
void TextRecognizer::inParallel(const std::vector<std::size_t> &items, Work work)
{
    std::atomic<std::size_t> next{0};
    auto drain = [&](Worker &worker) {
        keepTesseractSingleThreaded();
        for (std::size_t k = next++; k < items.size(); k = next++)
            work(worker, items[k]);
    };
    std::vector<std::jthread> helpers;
    for (std::size_t i = 1; i < m_workers.size() && i < items.size(); ++i)
        helpers.emplace_back([&, i] { drain(*m_workers[i]); });
    drain(*m_workers.front());
}

TextRecognizer::ReadingCounts TextRecognizer::lastCounts() const
{
    const std::lock_guard serial(m_serial);
    return m_counts;
}

std::size_t TextRecognizer::cachedReadingCount() const
{
    const std::lock_guard serial(m_serial);
    return m_cache.size();
}

std::vector<RecognizedScreenText> TextRecognizer::recognizeText(const QImage &image)
{
    const std::lock_guard serial(m_serial);
    m_counts = {};
    if (image.isNull() || !waitUntilReady())
        return {};

    const GrayImage gray = GrayImage::fromImage(image);
    // The minimum text height is a font size; the ink of a line without
    // descenders (capitals, "Готово") spans only its cap height, about three
    // quarters of it.
    TextLineDetector::Options detection;
    detection.minimumLineHeight =
        std::max(1, static_cast<int>(std::ceil(capHeightShare * m_options.minimumTextHeight * gray.height)));
    const std::vector<QRect> boxes = TextLineDetector(detection).detect(gray);
    m_counts.lines = boxes.size();

    // Widest lines first, so that the workers finish together.
    std::vector<std::size_t> order(boxes.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return boxes[a].width() > boxes[b].width(); });

    using Engine = LineReadingCache::Engine;
    std::vector<int> scales(boxes.size());
    std::vector<QRect> areas(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        scales[i] = boxes[i].height() < upscaleBelowHeight ? 2 : 1;
        areas[i] = lineArea(gray, boxes[i]);
    }
    // Reads line i with one of a worker's engines: the narrowed line goes to
    // the engine, the line at its own proportions settles signs by shape.
    auto readLine = [&](Worker &worker, std::size_t i, Engine engine) -> std::optional<LineReader::Reading> {
        LineReader &reader = worker.reader(engine);
        const GrayImage narrow = normalizedLine(gray, boxes[i], scales[i], readingWidthShare);
        auto reading = reader.read(narrow, screenPixelsPerInch * scales[i]);
        if (reading)
            withRoubleSign(*reading, normalizedLine(gray, boxes[i], scales[i]), *m_signs);
        return reading;
    };
    // Looks up what each of `lines` read as with `engine`; reads the others.
    auto readAll = [&](const std::vector<std::size_t> &lines, const std::vector<Engine> &engines,
                       std::vector<std::optional<LineReader::Reading>> &readings) {
        std::vector<std::size_t> fresh;
        std::vector<LineReadingCache::Key> keys(boxes.size());
        for (const std::size_t i : lines) {
            keys[i] = LineReadingCache::keyOf(gray, areas[i], scales[i], engines[i]);
            if (auto cached = m_cache.find(keys[i])) {
                readings[i] = std::move(cached);
                ++m_counts.cached;
            } else {
                fresh.push_back(i);
            }
        }
        std::vector<std::optional<LineReader::Reading>> read(boxes.size());
        inParallel(fresh, [&](Worker &worker, std::size_t i) { read[i] = readLine(worker, i, engines[i]); });
        for (const std::size_t i : fresh) {
            ++m_counts.read;
            if (read[i])
                m_cache.insert(keys[i], *read[i]);
            readings[i] = std::move(read[i]);
        }
    };

    std::vector<std::optional<LineReader::Reading>> readings(boxes.size());
    readAll(order, std::vector<Engine>(boxes.size(), Engine::combined), readings);

    // Second look at lines whose accents were dropped, and at lines read in
    // the alphabet their surroundings contradict.
    std::vector<std::size_t> doubtful;
    std::vector<Engine> engines(boxes.size(), Engine::combined);
    for (const std::size_t i : order) {
        if (!readings[i])
            continue;
        QStringList row;
        const int middle = boxes[i].center().y();
        for (std::size_t j = 0; j < boxes.size(); ++j) {
            const int otherMiddle = boxes[j].center().y();
            const bool sameRow = (otherMiddle >= boxes[i].top() && otherMiddle <= boxes[i].bottom())
                || (middle >= boxes[j].top() && middle <= boxes[j].bottom());
            if (j != i && sameRow && readings[j])
                row.append(readings[j]->text);
        }
        if (readings[i]->unreadMarks || guessesAtAccents(readings[i]->text)) {
            engines[i] = Engine::accentedLatin;
            doubtful.push_back(i);
            continue;
        }
        const WritingScript script = rereadScript(readings[i]->text, row);
        if (script != WritingScript::none) {
            engines[i] = script == WritingScript::latin ? Engine::latin : Engine::cyrillic;
            doubtful.push_back(i);
        }
    }
    std::vector<std::optional<LineReader::Reading>> rereadings(boxes.size());
    readAll(doubtful, engines, rereadings);
    for (const std::size_t i : doubtful) {
        if (!rereadings[i] || rereadings[i]->text.trimmed().isEmpty())
            continue;
        // Accented Latin replaces the first reading unless it is clearly less
        // sure of itself (a line of another alphabet with a stray mark).
        if (engines[i] == Engine::accentedLatin && rereadings[i]->confidence < readings[i]->confidence - 0.1)
            continue;
        readings[i] = std::move(rereadings[i]);
    }

    // Cached or fresh, every line passes the same rules (secrets among them).
    std::vector<RecognizedScreenText> lines;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (!readings[i])
            continue;
        if (auto line = acceptedLine(readings[i]->text, readings[i]->confidence, boxes[i], image.size(),
                                     m_options.minimumConfidence))
            lines.push_back(std::move(*line));
        else if (withheldAsSecret(readings[i]->text, readings[i]->confidence, m_options.minimumConfidence))
            m_counts.withheld.push_back(NormalizedRect::fromPixels(boxes[i], image.size()));
    }
    return inReadingOrder(std::move(lines));
}

} // namespace nimbel
