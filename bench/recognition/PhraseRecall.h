#pragma once

#include <QString>
#include <QStringList>

namespace nimbel::bench {

// The corpus's scoring rule: a phrase counts as read when it appears, up to
// small recognition slips, in the recognised text (all lines joined).
// A faithful port of the corpus's score.py, including its use of Python's
// difflib.SequenceMatcher.
struct PhraseScore
{
    int found = 0;
    int total = 0; // phrases that may leave the device
    QStringList missed;
    QStringList leaked; // sensitive phrases that were read

    double recall() const { return total == 0 ? 1.0 : double(found) / total; }
};

PhraseScore scorePhrases(const QStringList &truthPhrases, const QStringList &recognisedLines);

} // namespace nimbel::bench
