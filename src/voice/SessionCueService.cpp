#include "voice/SessionCueService.h"

#include "voice/AudioClipDecoder.h"
#include "voice/AudioOutput.h"

#include <QFile>

namespace nimbel {

SessionCueService::SessionCueService(AudioOutput &output)
    : m_output(output)
{
}

SessionCueService::~SessionCueService() = default;

QString SessionCueService::name(Cue cue)
{
    return cue == Cue::connect ? QStringLiteral("zelm-connect") : QStringLiteral("zelm-disconnect");
}

QByteArray SessionCueService::audio(Cue cue)
{
    const auto cached = m_cache.constFind(int(cue));
    if (cached != m_cache.constEnd())
        return *cached;
    QFile file(QStringLiteral(":/nimbel/voice/") + name(cue) + QStringLiteral(".wav"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return {};
    m_cache.insert(int(cue), bytes);
    return bytes;
}

void SessionCueService::play(Cue cue)
{
    const QByteArray bytes = audio(cue);
    if (bytes.isEmpty())
        return;
    std::optional<DecodedAudio> decoded = audioClip::decode(bytes);
    if (!decoded)
        return;
    std::unique_ptr<AudioPlayer> player =
        m_output.play(std::make_shared<const DecodedAudio>(std::move(*decoded)), 0, 0.9f, false);
    // Kept until the next cue, so that the sound is not cut off early.
    if (player)
        m_player = std::move(player);
}

} // namespace nimbel
