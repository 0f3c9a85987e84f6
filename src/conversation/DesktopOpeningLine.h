#pragma once

#include "conversation/DesktopRequestRouter.h"
#include "settings/AppLanguage.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>
#include <span>

namespace nimbel {

// The short line that acknowledges a question that needs work ("Let me take a
// look."), and the line said while a screen question is still busy. The line
// fits what the question asks for: a look at the screen, working something
// out, or looking something up. Pure rules; the view model applies them.
namespace DesktopOpeningLine {

enum class Family { look, figureOut, lookUp, neutral };

// Takes a candidate count (at least 1) and returns an index; out-of-range
// answers are clamped.
using Pick = std::function<qsizetype(qsizetype count)>;
// A uniformly random index from the system's random source.
qsizetype randomPick(qsizetype count);

// Questions that need outside knowledge (weather, prices, news, limits).
bool needsLookingUp(QStringView question);

// The family of a question, from its text first and its route last.
Family family(QStringView question, DesktopRequestRoute route);

// The two lines of a family.
QStringList lines(Family family, AppLanguage language);
// The three lines said while a screen question is still busy.
QStringList waitingLines(AppLanguage language);

// One of the candidates, avoiding `previous` while there is another choice.
QString choose(const QStringList &candidates, const std::optional<QString> &previous, const Pick &pick);

QString waiting(const std::optional<QString> &previous, AppLanguage language, const Pick &pick = randomPick);

// A line for the live draft of a spoken question, chosen only among lines
// whose audio is ready (`isReady`); nothing when none is.
std::optional<QString> first(QStringView draft, DesktopRequestRoute route, const std::optional<QString> &previous,
                             const std::function<bool(const QString &line)> &isReady, AppLanguage language,
                             const Pick &pick = randomPick);

// Every line worth synthesising ahead of time, in the order to fetch them:
// neutral, look, figure-out and look-up lines, then the waiting lines.
QStringList prewarmed(AppLanguage language);

// The speaking pace of the fixed lines (those of `prewarmed` in either
// language); nothing for any other text.
std::optional<double> paceScale(QStringView text);

// The phrase lists as written.
struct Vocabulary
{
    std::span<const QStringView> lookingUpPhrases;
    std::span<const QStringView> lookUpFamilyPhrases;
    std::span<const QStringView> figureOutPhrases;
};
const Vocabulary &vocabulary();

} // namespace DesktopOpeningLine
} // namespace nimbel
