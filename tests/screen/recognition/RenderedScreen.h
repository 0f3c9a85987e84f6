#pragma once

#include "screen/RecognizedScreenText.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

namespace nimbel::test {

// A screenshot drawn by the test itself: text and buttons at known places,
// in the desktop's sans-serif font, as a browser or toolkit would draw them.
class RenderedScreen
{
public:
    RenderedScreen(int width, int height, QColor background = QColor(0xf4, 0xf4, 0xf6))
        : m_image(width, height, QImage::Format_RGB32)
    {
        m_image.fill(background);
    }

    // Draws `text` with its top-left corner at `at`; returns the box it covers.
    QRect text(const QString &text, QPoint at, int pixelSize = 16, QColor colour = QColor(0x1c, 0x1c, 0x1e),
               bool bold = false)
    {
        QPainter painter(&m_image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const QFont font = this->font(pixelSize, bold);
        painter.setFont(font);
        painter.setPen(colour);
        const QRect box = painter.fontMetrics().boundingRect(text).translated(at.x(), at.y() + painter.fontMetrics().ascent());
        painter.drawText(at.x(), at.y() + painter.fontMetrics().ascent(), text);
        return box;
    }

    // A rounded button with its label centred.
    QRect button(const QString &label, QRect area, QColor fill, QColor labelColour, int pixelSize = 16)
    {
        QPainter painter(&m_image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(area, 7, 7);
        painter.setFont(font(pixelSize, false));
        painter.setPen(labelColour);
        painter.drawText(area, Qt::AlignCenter, label);
        return area;
    }

    void rule(int y, int x0, int x1, QColor colour = QColor(0xdd, 0xdd, 0xe0))
    {
        QPainter painter(&m_image);
        painter.setPen(colour);
        painter.drawLine(x0, y, x1, y);
    }

    void fill(QRect area, QColor colour)
    {
        QPainter painter(&m_image);
        painter.fillRect(area, colour);
    }

    const QImage &image() const { return m_image; }

private:
    static QFont font(int pixelSize, bool bold)
    {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(pixelSize);
        font.setBold(bold);
        return font;
    }

    QImage m_image;
};

// The recognised line that reads exactly `text`, if any.
inline const RecognizedScreenText *find(const std::vector<RecognizedScreenText> &lines, const QString &text)
{
    for (const auto &line : lines) {
        if (line.text == text)
            return &line;
    }
    return nullptr;
}

// Every recognised line, for messages.
inline QString all(const std::vector<RecognizedScreenText> &lines)
{
    QStringList texts;
    for (const auto &line : lines)
        texts.append(line.text);
    return texts.join(QStringLiteral(" | "));
}

} // namespace nimbel::test
