#include "app/HighlightGeometry.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace nimbel::highlight {

namespace {

QString folded(QString label)
{
    // "&Continue", "_Continue": toolkits mark the access key inside the label.
    static const QRegularExpression mnemonic(QStringLiteral("[&_](?=\\w)"));
    static const QRegularExpression trailing(QStringLiteral("\\s*(?:…|\\.\\.\\.|:)$"));
    label.replace(mnemonic, QString());
    label = label.simplified();
    label.remove(trailing);
    return label.toCaseFolded();
}

bool isNumber(double v)
{
    return std::isfinite(v);
}

} // namespace

bool sameLabel(const QString &controlLabel, const QString &targetLabel)
{
    const QString target = folded(targetLabel);
    return !target.isEmpty() && folded(controlLabel) == target;
}

std::optional<Target> targetOf(const NavigationResponse &answer, const std::optional<PreparedScreenContext> &context)
{
    for (qsizetype i = 0; i < answer.steps.size(); ++i) {
        const NavigationStep &step = answer.steps.at(i);
        std::optional<QString> label;
        if (step.targetLabel && !step.targetLabel->trimmed().isEmpty())
            label = step.targetLabel->trimmed();
        std::optional<NormalizedRect> rect = step.targetRect;
        if (!rect && label && context) {
            for (const PreparedScreenControl &control : context->controls) {
                if (control.targetRect && sameLabel(control.label, *label)) {
                    rect = control.targetRect;
                    break;
                }
            }
        }
        if (rect || label)
            return Target{int(i + 1), rect, label};
    }
    return std::nullopt;
}

std::optional<QRect> onScreen(const NormalizedRect &rect, const QRectF &capturedFrame, QPoint origin)
{
    if (!isNumber(rect.x) || !isNumber(rect.y) || !isNumber(rect.width) || !isNumber(rect.height)
        || !capturedFrame.isValid())
        return std::nullopt;
    const double left = std::clamp(rect.x, 0.0, 1.0);
    const double top = std::clamp(rect.y, 0.0, 1.0);
    const double right = std::clamp(rect.x + rect.width, 0.0, 1.0);
    const double bottom = std::clamp(rect.y + rect.height, 0.0, 1.0);
    if (right <= left || bottom <= top)
        return std::nullopt;
    const QRectF screen(origin.x() + left * capturedFrame.width(), origin.y() + top * capturedFrame.height(),
                        (right - left) * capturedFrame.width(), (bottom - top) * capturedFrame.height());
    const QRect pixels = screen.toAlignedRect();
    if (pixels.isEmpty())
        return std::nullopt;
    return pixels;
}

QRect toSurface(const QRect &screen, double scale)
{
    if (!isNumber(scale) || scale <= 0 || scale == 1)
        return screen;
    return QRectF(QPointF(screen.topLeft()) / scale, QSizeF(screen.size()) / scale).toAlignedRect();
}

} // namespace nimbel::highlight
