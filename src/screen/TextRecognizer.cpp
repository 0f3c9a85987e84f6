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
#include <array>
#include <map>
#include <tuple>
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
// (measured on our screenshots), at three quarters of the cost. Narrowed,
// the Latin script model loses some marks of accented letters ("Łukasz" read
// as "tukasz Wróbel"): lines it read with accents are read again at full width.
constexpr double readingWidthShare = 0.75;
// A reading of one alphabet at least this sure of itself settles the line's
// alphabet: on our screenshots the Latin model reads Cyrillic lines below
// 0.8 and Latin ones above 0.85; the Russian model reads Latin lines up to
// 0.87 (a button "Экспорт в CSV" read without its Latin) and Cyrillic ones
// mostly above 0.9. One without letters needs less.
constexpr double settledLatinConfidence = 0.85;
constexpr double settledCyrillicConfidence = 0.9;
constexpr double neutralConfidence = 0.5;
// Lines read in both alphabets to find the one the screen is mostly in: the
// shortest that still hold a word of a few letters (cheap to read twice).
constexpr std::size_t sampleLines = 6;
constexpr int sampleWidthInHeights = 3;

// The rouble sign after an amount ("1 200,00 ₽"): no model has a letter for
// it, so whatever was read there is checked against its shape.
// `line` is the line at its own proportions; the reading's symbol boxes are
// in the narrowed image it was read from.
void withRoubleSign(LineReader::Reading &reading, const GrayImage &line, double widthShare, const GlyphMatcher &signs)
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
    const bool symbolIsTheSign = reading.lastSymbolRight / widthShare >= glyph->left
        && reading.lastSymbolLeft / widthShare <= glyph->right;
    // What stands after the amount's last digit is a guess at the sign ("f?",
    // "£"), or the sign read as a digit where the symbol sits on it.
    static const QRegularExpression afterAmount(QStringLiteral("\\d(?:\\s+|(?=[^\\d\\s.,]))(\\S{1,3})$"));
    const QRegularExpressionMatch guess = afterAmount.match(text);
    const QString guessed = guess.captured(1);
    const bool digitsOnly = !guessed.contains(QRegularExpression(QStringLiteral("\\D")));
    if (guess.hasMatch() && (!digitsOnly || (guessed.size() == 1 && symbolIsTheSign)))
        text.truncate(guess.capturedStart(1));
    else if (symbolIsTheSign && !reading.lastSymbol.isEmpty() && text.endsWith(reading.lastSymbol))
        text.chop(reading.lastSymbol.size());
    text = text.trimmed();
    const bool spaced = glyph->gapBefore * 4 >= glyph->height();
    reading.text = text + (spaced ? QStringLiteral(" ") : QString()) + rouble;
}

// Text covers a small part of its line; bars and frames that the detector
// took for a line (a window's border) are mostly ink, and the recogniser,
// stretching their thin strokes to its input height, spends long on them.
bool isMostlyInk(const GrayImage &line)
{
    const auto ink = std::count_if(line.pixels.begin(), line.pixels.end(), [](std::uint8_t v) { return v < 128; });
    return 2 * static_cast<std::size_t>(ink) > line.pixels.size();
}

// Letters only the Latin script model has: the reading of both alphabets
// cannot have read them.
bool hasAccentedLatin(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() >= 128 && c.isLetter() && c.script() == QChar::Script_Latin;
    });
}

} // namespace

// The engines of one worker: each alphabet alone, and both at once for lines
// that hold words of both.
struct TextRecognizer::Worker
{
    LineReader latin;
    LineReader cyrillic;
    LineReader mixed;

    bool load(const Options &options)
    {
        return latin.load(options.latinLanguage) && cyrillic.load(options.cyrillicLanguage)
            && mixed.load(options.mixedLanguages);
    }
    LineReader &reader(LineReadingCache::Engine engine)
    {
        switch (engine) {
        case LineReadingCache::Engine::latin:
        case LineReadingCache::Engine::accentedLatin:
            return latin;
        case LineReadingCache::Engine::cyrillic:
            return cyrillic;
        case LineReadingCache::Engine::combined:
            break;
        }
        return mixed;
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
    using Reading = std::optional<LineReader::Reading>;
    std::vector<int> scales(boxes.size());
    std::vector<QRect> areas(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        scales[i] = boxes[i].height() < upscaleBelowHeight ? 2 : 1;
        areas[i] = lineArea(gray, boxes[i]);
    }
    // Lines of the very same pixels (a city, a status, a name repeated down a
    // table) are read once: `order` keeps the first of each, widest first.
    std::vector<std::size_t> sameAs(boxes.size());
    {
        std::map<std::tuple<std::uint64_t, std::uint64_t, int, int, int>, std::size_t> seen;
        std::vector<std::size_t> distinct;
        for (const std::size_t i : order) {
            const auto key = LineReadingCache::keyOf(gray, areas[i], scales[i], Engine::latin);
            const auto [at, fresh] =
                seen.try_emplace(std::make_tuple(key.first, key.second, key.width, key.height, key.scale), i);
            sameAs[i] = at->second;
            if (fresh)
                distinct.push_back(i);
        }
        order = std::move(distinct);
    }

    // Reads line i with one of a worker's engines: the narrowed line goes to
    // the engine, the line at its own proportions settles signs by shape.
    auto readLine = [&](Worker &worker, std::size_t i, Engine engine) -> Reading {
        LineReader &reader = worker.reader(engine);
        const double widthShare = engine == Engine::accentedLatin ? 1.0 : readingWidthShare;
        const GrayImage narrow = normalizedLine(gray, boxes[i], scales[i], widthShare);
        if (isMostlyInk(narrow))
            return std::nullopt;
        auto reading = reader.read(narrow, screenPixelsPerInch * scales[i]);
        if (reading)
            withRoubleSign(*reading, normalizedLine(gray, boxes[i], scales[i]), widthShare, *m_signs);
        return reading;
    };
    // What each engine read each line as (for the first line of its pixels).
    std::array<std::vector<Reading>, 4> readings;
    for (auto &byEngine : readings)
        byEngine.resize(boxes.size());
    std::array<std::vector<bool>, 4> tried;
    for (auto &byEngine : tried)
        byEngine.assign(boxes.size(), false);
    auto of = [](Engine engine) { return static_cast<std::size_t>(engine); };
    // Looks up what each of `lines` read as with `engine`; reads the others.
    auto readAll = [&](const std::vector<std::size_t> &lines, Engine engine) {
        std::vector<std::size_t> fresh;
        std::vector<LineReadingCache::Key> keys(boxes.size());
        for (const std::size_t i : lines) {
            if (tried[of(engine)][i])
                continue;
            tried[of(engine)][i] = true;
            keys[i] = LineReadingCache::keyOf(gray, areas[i], scales[i], engine);
            if (auto cached = m_cache.find(keys[i])) {
                readings[of(engine)][i] = std::move(cached);
                ++m_counts.cached;
            } else {
                fresh.push_back(i);
            }
        }
        std::vector<Reading> read(boxes.size());
        inParallel(fresh, [&](Worker &worker, std::size_t i) { read[i] = readLine(worker, i, engine); });
        for (const std::size_t i : fresh) {
            ++m_counts.read;
            if (read[i])
                m_cache.insert(keys[i], *read[i]);
            readings[of(engine)][i] = std::move(read[i]);
        }
    };
    auto scriptOf = [](Engine engine) {
        return engine == Engine::latin ? WritingScript::latin : WritingScript::cyrillic;
    };
    // A reading that settles its line: sure of itself, with words only its
    // own alphabet has; or without letters (an amount, a time) where the
    // other alphabet, if it was tried, read no words of its own.
    auto settles = [&](std::size_t i, Engine engine) {
        const Reading &reading = readings[of(engine)][i];
        if (!reading)
            return false;
        if (!hasLetters(reading->text)) {
            const Reading &other = readings[of(engine == Engine::latin ? Engine::cyrillic : Engine::latin)][i];
            return reading->confidence >= neutralConfidence
                && (!other || lineScript(other->text) == WritingScript::none);
        }
        const double enough = engine == Engine::latin ? settledLatinConfidence : settledCyrillicConfidence;
        return reading->confidence >= enough && lineScript(reading->text) == scriptOf(engine);
    };

    // The alphabet most of the screen is in is tried first: a few short lines
    // are read in Latin; unless that settles half of them, in Cyrillic too,
    // and the alphabet that settles more of them leads.
    std::vector<std::size_t> sample;
    for (auto line = order.rbegin(); line != order.rend() && sample.size() < sampleLines; ++line) {
        if (boxes[*line].width() >= sampleWidthInHeights * boxes[*line].height())
            sample.push_back(*line);
    }
    const auto settledIn = [&](Engine engine) {
        return static_cast<std::size_t>(
            std::count_if(sample.begin(), sample.end(), [&](std::size_t i) { return settles(i, engine); }));
    };
    readAll(sample, Engine::latin);
    const std::size_t settledInLatin = settledIn(Engine::latin);
    if (2 * settledInLatin < sample.size())
        readAll(sample, Engine::cyrillic);
    const Engine first = settledIn(Engine::cyrillic) > settledInLatin ? Engine::cyrillic : Engine::latin;
    const Engine second = first == Engine::latin ? Engine::cyrillic : Engine::latin;

    auto unsettled = [&](const std::vector<std::size_t> &lines) {
        std::vector<std::size_t> left;
        for (const std::size_t i : lines) {
            if (!settles(i, Engine::latin) && !settles(i, Engine::cyrillic))
                left.push_back(i);
        }
        return left;
    };
    readAll(order, first);
    const std::vector<std::size_t> doubtful = unsettled(order);
    readAll(doubtful, second);
    std::vector<std::size_t> accented;
    for (const std::size_t i : order) {
        const Reading &latin = readings[of(Engine::latin)][i];
        if (latin && hasAccentedLatin(latin->text))
            accented.push_back(i);
    }
    readAll(accented, Engine::accentedLatin);
    for (const std::size_t i : accented) {
        if (Reading &wide = readings[of(Engine::accentedLatin)][i]; wide && !wide->text.trimmed().isEmpty())
            readings[of(Engine::latin)][i] = wide;
    }
    // Neither alphabet settles it: words of both alphabets, or a line hard to
    // read. One made only of letters both alphabets share is left to its row.
    std::vector<std::size_t> mixed;
    for (const std::size_t i : unsettled(doubtful)) {
        const Reading &latin = readings[of(Engine::latin)][i];
        const Reading &cyrillic = readings[of(Engine::cyrillic)][i];
        if ((latin && lineScript(latin->text) != WritingScript::none)
            || (cyrillic && lineScript(cyrillic->text) != WritingScript::none))
            mixed.push_back(i);
    }
    readAll(mixed, Engine::combined);

    std::vector<Reading> chosen(boxes.size());
    std::vector<bool> byRow(boxes.size(), false);
    for (const std::size_t i : order) {
        if (settles(i, first) || settles(i, second)) {
            chosen[i] = readings[of(settles(i, first) ? first : second)][i];
            continue;
        }
        const Reading &latin = readings[of(Engine::latin)][i];
        const Reading &cyrillic = readings[of(Engine::cyrillic)][i];
        const Reading &both = readings[of(Engine::combined)][i];
        auto sure = [](const Reading &a, const Reading &b) {
            return !b || (a && a->confidence >= b->confidence) ? a : b;
        };
        if (!tried[of(Engine::combined)][i]) {
            byRow[i] = true;
            chosen[i] = sure(latin, cyrillic);
            continue;
        }
        // The reading of both alphabets tells which the line is in; the
        // model of that alphabet alone has more of its letters ("ñ", "ł").
        const auto letterIn = [&](QChar::Script script) {
            return both && std::any_of(both->text.begin(), both->text.end(),
                                       [&](QChar c) { return c.isLetter() && c.script() == script; });
        };
        const bool latinLetters = letterIn(QChar::Script_Latin);
        const bool cyrillicLetters = letterIn(QChar::Script_Cyrillic);
        if (latinLetters && cyrillicLetters)
            chosen[i] = both;
        else if (latinLetters && latin && !latin->text.trimmed().isEmpty())
            chosen[i] = hasAccentedLatin(latin->text) ? latin : sure(latin, both);
        else if (cyrillicLetters && cyrillic && !cyrillic->text.trimmed().isEmpty())
            chosen[i] = cyrillic;
        else if (latin && lineScript(latin->text) != WritingScript::none
                 && !(cyrillic && lineScript(cyrillic->text) != WritingScript::none))
            chosen[i] = latin;
        else if (cyrillic && lineScript(cyrillic->text) != WritingScript::none
                 && !(latin && lineScript(latin->text) != WritingScript::none))
            chosen[i] = cyrillic;
        else
            chosen[i] = sure(sure(latin, cyrillic), both);
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        chosen[i] = chosen[sameAs[i]];
        byRow[i] = byRow[sameAs[i]];
    }
    // Letters both alphabets share ("Нет" and "HeT", "BETA" and "ВЕТА") take
    // the alphabet of the words beside them.
    std::vector<Reading> lineReadings = chosen;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (!byRow[i])
            continue;
        QStringList row;
        const int middle = boxes[i].center().y();
        for (std::size_t j = 0; j < boxes.size(); ++j) {
            const int otherMiddle = boxes[j].center().y();
            const bool sameRow = (otherMiddle >= boxes[i].top() && otherMiddle <= boxes[i].bottom())
                || (middle >= boxes[j].top() && middle <= boxes[j].bottom());
            if (j != i && sameRow && chosen[j] && !byRow[j])
                row.append(chosen[j]->text);
        }
        const WritingScript context = decisiveScript(row);
        const Reading &inContext = context == WritingScript::latin  ? readings[of(Engine::latin)][sameAs[i]]
            : context == WritingScript::cyrillic                    ? readings[of(Engine::cyrillic)][sameAs[i]]
                                                                    : chosen[i];
        if (inContext && !inContext->text.trimmed().isEmpty())
            lineReadings[i] = inContext;
    }
    // Cached or fresh, every line passes the same rules (secrets among them).
    std::vector<RecognizedScreenText> lines;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const Reading &reading = lineReadings[i];
        if (!reading)
            continue;
        if (auto line = acceptedLine(reading->text, reading->confidence, boxes[i], image.size(),
                                     m_options.minimumConfidence))
            lines.push_back(std::move(*line));
        else if (withheldAsSecret(reading->text, reading->confidence, m_options.minimumConfidence))
            m_counts.withheld.push_back(NormalizedRect::fromPixels(boxes[i], image.size()));
    }
    return inReadingOrder(std::move(lines));
}

} // namespace nimbel
