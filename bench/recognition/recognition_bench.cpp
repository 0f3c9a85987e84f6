// Times the preparation of the screen context of screenshots, and the phrase
// recall of what it read, against a plain full-page Tesseract pass.
//
//   recognition_bench [--repeat N] [--workers N] [--latin LANGUAGES] [--no-baseline]
//                     [--show] [--lines-to DIR] SCREENSHOT...
//
// "ours" is a first reading (no line remembered); "again" reads the same
// screenshot a second time, as a second question about an unchanged window
// does, with the lines remembered from the first reading.
//
// A `NAME.truth.json` beside `NAME.png` gives the phrases to score. --show
// prints the recognised lines (with boxes and confidences) and the prepared
// context JSON of each screenshot; --lines-to writes the recognised lines of
// each screenshot to DIR/NAME.ours.txt and DIR/NAME.baseline.txt.
#include "PhraseRecall.h"

#include "screen/GrayImage.h"
#include "screen/ScreenContextRules.h"
#include "screen/TextLineDetector.h"
#include "screen/TextRecognizer.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <tesseract/baseapi.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <memory>
#include <vector>

using namespace nimbel;

namespace {

double processSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The baseline: one full-page pass, sparse text (PSM 11), LSTM, eng+rus, default settings.
class BaselineReader
{
public:
    BaselineReader()
    {
        m_loaded = m_api.Init(nullptr, "eng+rus", tesseract::OEM_LSTM_ONLY) == 0;
        m_api.SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
        m_api.SetVariable("debug_file", "/dev/null");
    }
    ~BaselineReader() { m_api.End(); }

    QStringList read(const QImage &image)
    {
        if (!m_loaded)
            return {};
        const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
        m_api.SetImage(rgb.constBits(), rgb.width(), rgb.height(), 3, static_cast<int>(rgb.bytesPerLine()));
        m_api.SetSourceResolution(96);
        const std::unique_ptr<char[]> text(m_api.GetUTF8Text());
        m_api.Clear();
        QStringList lines = QString::fromUtf8(text.get()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines;
    }

private:
    tesseract::TessBaseAPI m_api;
    bool m_loaded = false;
};

QStringList truthPhrases(const QString &imagePath)
{
    const QFileInfo info(imagePath);
    QFile file(info.dir().filePath(info.completeBaseName() + QStringLiteral(".truth.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList phrases;
    for (const QJsonValue &phrase : QJsonDocument::fromJson(file.readAll()).object().value(u"phrases").toArray())
        phrases.append(phrase.toString());
    return phrases;
}

void writeLines(const QString &path, const QStringList &lines)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
}

QString scoreText(const QStringList &phrases, const QStringList &lines, QStringList *missed)
{
    if (phrases.isEmpty())
        return QStringLiteral("   -  ");
    const bench::PhraseScore score = bench::scorePhrases(phrases, lines);
    if (missed)
        *missed = score.missed;
    QString text = QStringLiteral("%1 (%2/%3)").arg(score.recall(), 0, 'f', 3).arg(score.found).arg(score.total);
    if (!score.leaked.isEmpty())
        text += QStringLiteral(" LEAKED %1").arg(score.leaked.size());
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("repeat"), QStringLiteral("Runs per screenshot."), QStringLiteral("n"),
                      QStringLiteral("5")});
    parser.addOption({QStringLiteral("workers"), QStringLiteral("Recognition workers."), QStringLiteral("n"),
                      QStringLiteral("2")});
    parser.addOption({QStringLiteral("latin"), QStringLiteral("Model for Latin lines (\"Latin\", \"eng\")."),
                      QStringLiteral("languages"), TextRecognizer::Options().latinLanguage});
    parser.addOption({QStringLiteral("no-baseline"), QStringLiteral("Skip the full-page baseline.")});
    parser.addOption({QStringLiteral("show"), QStringLiteral("Print recognised lines and the prepared context.")});
    parser.addOption({QStringLiteral("boxes-to"), QStringLiteral("Draw the detected line boxes into DIR/NAME.boxes.png."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("lines-to"), QStringLiteral("Write recognised lines to DIR."),
                      QStringLiteral("dir")});
    parser.addPositionalArgument(QStringLiteral("screenshots"), QStringLiteral("PNG files to read."));
    parser.process(app);
    const int repeat = std::max(1, parser.value(QStringLiteral("repeat")).toInt());

    TextRecognizer::Options options;
    options.workers = std::max(1, parser.value(QStringLiteral("workers")).toInt());
    options.latinLanguage = parser.value(QStringLiteral("latin"));
    TextRecognizer::Options uncached = options;
    uncached.cachedReadings = 0;
    TextRecognizer recognizer(uncached);
    TextRecognizer remembering(options);
    if (!recognizer.waitUntilReady() || !remembering.waitUntilReady()) {
        std::fprintf(stderr, "recognition models could not be loaded\n");
        return 1;
    }
    std::unique_ptr<BaselineReader> baseline;
    if (!parser.isSet(QStringLiteral("no-baseline")))
        baseline = std::make_unique<BaselineReader>();

    std::printf("%-22s %7s %7s %8s %6s %6s %-18s %8s %8s %10s %7s %-18s\n", "screenshot", "ours s", "cpu s",
                "detect s", "lines", "reads", "ours recall", "again s", "again cpu", "baseline s", "cpu s",
                "baseline recall");
    std::vector<double> allOurs;
    std::vector<double> allBaseline;
    for (const QString &path : parser.positionalArguments()) {
        const QImage image(path);
        if (image.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            continue;
        }
        const QString name = QFileInfo(path).completeBaseName();
        const QStringList phrases = truthPhrases(path);

        std::vector<double> ours;
        std::vector<double> oursCpu;
        std::vector<double> detection;
        std::size_t detectedLines = 0;
        std::vector<RecognizedScreenText> recognized;
        PreparedScreenContext context;
        for (int i = 0; i < repeat; ++i) {
            QElapsedTimer timer;
            timer.start();
            const double cpu = processSeconds();
            recognized = recognizer.recognizeText(image);
            context = assembledContext({QStringLiteral("bench"), name, std::nullopt, std::nullopt}, recognized);
            ours.push_back(timer.nsecsElapsed() / 1e9);
            oursCpu.push_back(processSeconds() - cpu);

            // The line detector alone (it runs before the workers start).
            timer.restart();
            detectedLines = TextLineDetector().detect(GrayImage::fromImage(image)).size();
            detection.push_back(timer.nsecsElapsed() / 1e9);
        }
        const std::size_t reads = recognizer.lastCounts().read;

        std::vector<double> again;
        std::vector<double> againCpu;
        remembering.recognizeText(image);
        for (int i = 0; i < repeat; ++i) {
            QElapsedTimer timer;
            timer.start();
            const double cpu = processSeconds();
            const auto remembered = remembering.recognizeText(image);
            context = assembledContext({QStringLiteral("bench"), name, std::nullopt, std::nullopt}, remembered);
            again.push_back(timer.nsecsElapsed() / 1e9);
            againCpu.push_back(processSeconds() - cpu);
        }
        QStringList ourLines;
        for (const RecognizedScreenText &line : recognized)
            ourLines.append(line.text);

        std::vector<double> theirs;
        std::vector<double> theirsCpu;
        QStringList baselineLines;
        for (int i = 0; baseline && i < repeat; ++i) {
            QElapsedTimer timer;
            timer.start();
            const double cpu = processSeconds();
            baselineLines = baseline->read(image);
            theirs.push_back(timer.nsecsElapsed() / 1e9);
            theirsCpu.push_back(processSeconds() - cpu);
        }

        QStringList missed;
        const QString ourScore = scoreText(phrases, ourLines, &missed);
        const QString baselineScore = baseline ? scoreText(phrases, baselineLines, nullptr) : QStringLiteral("-");
        std::printf("%-22s %7.3f %7.3f %8.3f %6zu %6zu %-18s %8.3f %8.3f %10.3f %7.3f %-18s\n", qPrintable(name),
                    median(ours), median(oursCpu), median(detection), detectedLines, reads, qPrintable(ourScore),
                    median(again), median(againCpu), median(theirs), median(theirsCpu), qPrintable(baselineScore));
        for (const QString &phrase : missed)
            std::printf("    missed: %s\n", qPrintable(phrase));
        allOurs.push_back(median(ours));
        allBaseline.push_back(median(theirs));

        if (parser.isSet(QStringLiteral("lines-to"))) {
            const QDir dir(parser.value(QStringLiteral("lines-to")));
            writeLines(dir.filePath(name + QStringLiteral(".ours.txt")), ourLines);
            if (baseline)
                writeLines(dir.filePath(name + QStringLiteral(".baseline.txt")), baselineLines);
        }
        if (parser.isSet(QStringLiteral("boxes-to"))) {
            QImage drawn = image.convertToFormat(QImage::Format_RGB32);
            QPainter painter(&drawn);
            painter.setPen(QColor(255, 0, 255));
            for (const QRect &box : TextLineDetector().detect(GrayImage::fromImage(image)))
                painter.drawRect(box.adjusted(-1, -1, 0, 0));
            painter.end();
            drawn.save(QDir(parser.value(QStringLiteral("boxes-to"))).filePath(name + QStringLiteral(".boxes.png")));
        }
        if (parser.isSet(QStringLiteral("show"))) {
            for (const RecognizedScreenText &line : recognized)
                std::printf("  [%.3f %.3f %.3f %.3f] %.2f  %s\n", line.rect.x, line.rect.y, line.rect.width,
                            line.rect.height, line.confidence, qPrintable(line.text));
            std::printf("%s\n", context.toJson().dump(2).c_str());
        }
    }
    std::printf("median over screenshots: ours %.3f s, baseline %.3f s\n", median(allOurs), median(allBaseline));
    return 0;
}
