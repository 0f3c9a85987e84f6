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

// The rouble sign after an amount ("1 200,00 ₽"): no model has a letter for
// it, so whatever was read there is checked against its shape.
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
    const bool symbolIsTheSign = reading.lastSymbolRight >= glyph->left && reading.lastSymbolLeft <= glyph->right;
    if (symbolIsTheSign && !reading.lastSymbol.isEmpty() && text.endsWith(reading.lastSymbol))
        text.chop(reading.lastSymbol.size());
    text = text.trimmed();
    const bool spaced = glyph->gapBefore * 4 >= glyph->height();
    reading.text = text + (spaced ? QStringLiteral(" ") : QString()) + rouble;
}

} // namespace

// The engines of one worker: both languages (Tesseract picks the better
// reading word by word), and each language alone for second looks.
struct TextRecognizer::Worker
{
    LineReader bothLanguages;
    LineReader latin;
    LineReader cyrillic;

    bool load(const Options &options)
    {
        return bothLanguages.load(options.latinLanguage + QLatin1Char('+') + options.cyrillicLanguage)
            && latin.load(options.latinLanguage) && cyrillic.load(options.cyrillicLanguage);
    }
    bool isLoaded() const { return bothLanguages.isLoaded() && latin.isLoaded() && cyrillic.isLoaded(); }
};

TextRecognizer::TextRecognizer()
    : TextRecognizer(Options())
{
}

TextRecognizer::TextRecognizer(Options options)
    : m_options(std::move(options))
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

std::vector<RecognizedScreenText> TextRecognizer::recognizeText(const QImage &image)
{
    const std::lock_guard serial(m_serial);
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

    // Widest lines first, so that the workers finish together.
    std::vector<std::size_t> order(boxes.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return boxes[a].width() > boxes[b].width(); });

    std::vector<GrayImage> lineImages(boxes.size());
    std::vector<int> resolutions(boxes.size(), screenPixelsPerInch);
    std::vector<std::optional<LineReader::Reading>> readings(boxes.size());
    inParallel(order, [&](Worker &worker, std::size_t i) {
        const int scale = boxes[i].height() < upscaleBelowHeight ? 2 : 1;
        lineImages[i] = normalizedLine(gray, boxes[i], scale);
        resolutions[i] = screenPixelsPerInch * scale;
        readings[i] = worker.bothLanguages.read(lineImages[i], resolutions[i]);
    });

    // Second look at lines read in the alphabet their surroundings contradict.
    std::vector<std::size_t> doubtful;
    std::vector<WritingScript> scripts(boxes.size(), WritingScript::none);
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
        scripts[i] = rereadScript(readings[i]->text, row);
        if (scripts[i] != WritingScript::none)
            doubtful.push_back(i);
    }
    inParallel(doubtful, [&](Worker &worker, std::size_t i) {
        LineReader &reader = scripts[i] == WritingScript::latin ? worker.latin : worker.cyrillic;
        if (auto reread = reader.read(lineImages[i], resolutions[i]); reread && !reread->text.trimmed().isEmpty())
            readings[i] = std::move(reread);
    });

    std::vector<RecognizedScreenText> lines;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (!readings[i])
            continue;
        withRoubleSign(*readings[i], lineImages[i], *m_signs);
        if (auto line = acceptedLine(readings[i]->text, readings[i]->confidence, boxes[i], image.size(),
                                     m_options.minimumConfidence))
            lines.push_back(std::move(*line));
    }
    return inReadingOrder(std::move(lines));
}

} // namespace nimbel
