// libFuzzer entry point for everything the gateway reads from the network:
// the server-sent event reader (fed in pieces cut where the input says), the
// chat event decoder and reply assembly, and every response decoder. The
// first byte chooses the target; the rest is the network input.

#include "FuzzCheck.h"
#include "gateway/ChatWire.h"
#include "gateway/DesktopConfiguration.h"
#include "gateway/GatewayRules.h"
#include "gateway/NavigationResponse.h"
#include "gateway/ServerSentEventReader.h"
#include "gateway/SpeechWire.h"
#include "gateway/WireJson.h"

using namespace nimbel;

namespace {

void readEventStream(QByteArrayView input)
{
    // Small limit, so that overlong lines are reached often.
    constexpr qsizetype maxLine = 256;
    ServerSentEventReader reader(maxLine);
    ChatReplyAssembler assembler;
    qsizetype at = 0;
    const auto drain = [&] {
        while (auto line = reader.nextLine()) {
            check(line->size() <= maxLine);
            check(!line->contains('\n') && !line->contains('\r'));
            if (auto payload = ServerSentEventReader::dataPayload(*line)) {
                check(!payload->isEmpty() && *payload == payload->trimmed());
                if (auto event = ChatStreamEvent::decode(*payload)) {
                    const auto step = assembler.handle(*event);
                    check(step.text == step.text.trimmed());
                }
            }
        }
    };
    // Each piece is as long as its first byte says (0 to 31) and then some.
    while (at < input.size()) {
        const qsizetype length = std::min<qsizetype>(input.size() - at, 1 + (uint8_t(input[at]) & 31));
        reader.append(input.sliced(at, length));
        at += length;
        drain();
    }
    reader.finish();
    drain();
    if (const auto reply = assembler.reply())
        check(!reply->isEmpty());
}

void decodeNavigation(QByteArrayView input)
{
    const auto response = NavigationResponse::decode(input);
    if (!response)
        return;
    for (const QString &fact : response->screenFacts)
        check(!fact.isEmpty() && fact == fact.trimmed());
    // What the decoder accepts, the encoder writes back to the same value.
    check(NavigationResponse::decode(wire::serialize(response->toJson())) == response);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView input(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 6) {
    case 0:
        readEventStream(input);
        break;
    case 1:
        decodeNavigation(input);
        break;
    case 2:
        DesktopConfiguration::decode(input);
        break;
    case 3:
        DesktopPairingConfiguration::decode(input);
        decodeTranscription(input);
        break;
    case 4:
        check(!serverErrorMessage(input).isEmpty());
        break;
    case 5:
        if (auto payload = ServerSentEventReader::dataPayload(input))
            ChatStreamEvent::decode(*payload);
        break;
    }
    return 0;
}
