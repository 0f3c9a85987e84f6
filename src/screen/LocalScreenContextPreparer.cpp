#include "screen/LocalScreenContextPreparer.h"

#include "core/Log.h"
#include "screen/CaptureDateCodec.h"
#include "screen/ScreenContextRules.h"

#include <QElapsedTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

namespace nimbel {

LocalScreenContextPreparer::Request
LocalScreenContextPreparer::Request::fromCapture(const CaptureArtifact &capture,
                                                 std::optional<AccessibilityContext> accessibility)
{
    return {capture.image, CaptureDateCodec::encode(capture.metadata.capturedAt), capture.metadata.applicationName,
            capture.metadata.windowTitle, std::move(accessibility)};
}

LocalScreenContextPreparer::LocalScreenContextPreparer()
    : LocalScreenContextPreparer(TextRecognizer::Options())
{
}

LocalScreenContextPreparer::LocalScreenContextPreparer(TextRecognizer::Options options)
    : m_recognizer(std::make_shared<TextRecognizer>(std::move(options)))
{
    m_actor.setMaxThreadCount(1);
    m_actor.setExpiryTimeout(-1);
}

LocalScreenContextPreparer::~LocalScreenContextPreparer()
{
    m_actor.waitForDone();
}

QCoro::Task<PreparedScreenContext> LocalScreenContextPreparer::prepare(Request request)
{
    // Named locals rather than temporaries inside the co_await and co_return
    // expressions: GCC 12 mishandles the lifetime of such temporaries.
    struct Reading
    {
        std::vector<RecognizedScreenText> lines;
        std::vector<NormalizedRect> withheld;
    };
    QFuture<Reading> reading = QtConcurrent::run(&m_actor, [recognizer = m_recognizer, image = request.image] {
        QElapsedTimer timer;
        timer.start();
        auto lines = recognizer->recognizeText(image);
        // The recogniser is this actor's own: nothing reads with it in between.
        std::vector<NormalizedRect> withheld = recognizer->lastCounts().withheld;
        // Counts and timing only: recognised text never goes into a log.
        const log::Record record = log::Record()
                                       .add(u"lines", static_cast<qint64>(lines.size()))
                                       .add(u"width", image.width())
                                       .add(u"height", image.height())
                                       .add(u"total_ms", timer.elapsed());
        log::info(log::general(), QStringLiteral("text_recognition ") + record.text());
        return Reading{std::move(lines), std::move(withheld)};
    });
    const Reading recognized = co_await reading;
    // Only the request and the result from here on: the preparer may be gone.
    const ScreenContextSources sources{request.captureID, request.applicationName, request.windowTitle,
                                       request.accessibility};
    PreparedScreenContext context = assembledContext(sources, recognized.lines);
    context.withheldLines = recognized.withheld;
    co_return context;
}

} // namespace nimbel
