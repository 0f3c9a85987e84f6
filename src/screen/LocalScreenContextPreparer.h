#pragma once

#include "screen/AccessibilityContext.h"
#include "screen/CaptureArtifact.h"
#include "screen/PreparedScreenContext.h"
#include "screen/TextRecognizer.h"

#include <QImage>
#include <QThreadPool>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

namespace nimbel {

// Reads a capture on the device and condenses it into the context sent beside
// the picture: recognised text in reading order, the accessibility controls
// paired with the lines that show them, status lines and a summary. Secrets
// (`isSensitive`) never get into it.
//
// A serial actor: recognitions run one at a time on the preparer's own thread,
// and `prepare` resumes on the thread that awaited it. Between calls it keeps
// only the loaded recognition models and the line readings they remember by
// the lines' pixels (a window asked about again is read only where it
// changed); no context depends on an earlier capture.
class LocalScreenContextPreparer
{
public:
    struct Request
    {
        QImage image;
        QString captureID;                       // capturedAt in the shared capture date form
        std::optional<QString> applicationName;  // of the capture
        std::optional<QString> windowTitle;      // of the capture
        std::optional<AccessibilityContext> accessibility;

        // A capture's picture, names and date (written with CaptureDateCodec).
        static Request fromCapture(const CaptureArtifact &capture, std::optional<AccessibilityContext> accessibility);
    };

    LocalScreenContextPreparer();
    explicit LocalScreenContextPreparer(TextRecognizer::Options options);
    ~LocalScreenContextPreparer();
    LocalScreenContextPreparer(const LocalScreenContextPreparer &) = delete;
    LocalScreenContextPreparer &operator=(const LocalScreenContextPreparer &) = delete;

    // Never fails: without text (or when recognition fails) the context is
    // built from the capture's names alone.
    QCoro::Task<PreparedScreenContext> prepare(Request request);

private:
    std::shared_ptr<TextRecognizer> m_recognizer;
    QThreadPool m_actor;
};

} // namespace nimbel
