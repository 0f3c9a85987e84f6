#pragma once

#include <QString>
#include <QStringView>

#include <span>

namespace nimbel {

// What a question asks for. The raw values appear in log records.
enum class DesktopRequestRoute { stop, screen, general };

QString rawValue(DesktopRequestRoute route);

// The two facts about the conversation that a question is routed with.
struct DesktopRequestContext
{
    // The owner asked for a screenshot explicitly and no question has used it yet.
    bool manualCapturePending = false;
    // The previous turn looked at the screen.
    bool lastRequestUsedScreen = false;
};

// Classifies a question from its text alone: a command to stop, a question
// about the screen, or a general question. Stateless; the word sets are built
// once and shared by every call.
namespace DesktopRequestRouter {

DesktopRequestRoute route(QStringView question, const DesktopRequestContext &context);

// Lower-cases the text and keeps only runs of letters and digits, joined by
// single spaces. Every phrase is compared in this form.
QString normalize(QStringView text);

// The phrase lists exactly as written (before normalisation).
struct Vocabulary
{
    std::span<const QStringView> stopCommands;
    std::span<const QStringView> stopWords;
    std::span<const QStringView> questionWords;
    std::span<const QStringView> referentialWords;
    std::span<const QStringView> screenPhrases;
    std::span<const QStringView> actionStems;
    std::span<const QStringView> deicticPhrases;
    std::span<const QStringView> followUpPhrases;
};
const Vocabulary &vocabulary();

} // namespace DesktopRequestRouter
} // namespace nimbel
