#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

namespace nimbel {

class AudioOutput;
class AudioPlayer;

// The short sounds that open and close a voice session. They ship with the
// application as resources; a missing or unplayable one is simply not heard.
class SessionCueService
{
public:
    enum class Cue { connect, disconnect };

    explicit SessionCueService(AudioOutput &output);
    ~SessionCueService();

    // "zelm-connect" or "zelm-disconnect", the base name of the cue's file.
    static QString name(Cue cue);
    void play(Cue cue);
    // The cue's sound file, read once and kept; empty when it cannot be read.
    QByteArray audio(Cue cue);

private:
    AudioOutput &m_output;
    std::unique_ptr<AudioPlayer> m_player;
    QHash<int, QByteArray> m_cache;
};

} // namespace nimbel
