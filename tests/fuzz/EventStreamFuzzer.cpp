// The event-stream reader must not care how the network cuts the body: every
// split of the input into reads yields the lines (and so the events) of one
// single read, and the reader's memory stays bounded by its line limit.

#include "FuzzCheck.h"
#include "gateway/ChatWire.h"
#include "gateway/ServerSentEventReader.h"

#include <vector>

using namespace nimbel;

namespace {

constexpr qsizetype maxLine = 128;

struct Outcome
{
    std::vector<QByteArray> lines;
    std::vector<ChatStreamEvent> events;
    bool overflowed = false;
};

void drain(ServerSentEventReader &reader, Outcome &outcome)
{
    while (auto line = reader.nextLine()) {
        check(line->size() <= maxLine);
        check(!line->contains('\n') && !line->contains('\r'));
        if (auto payload = ServerSentEventReader::dataPayload(*line)) {
            if (auto event = ChatStreamEvent::decode(*payload))
                outcome.events.push_back(*event);
        }
        outcome.lines.push_back(std::move(*line));
    }
}

// `cuts` says where the reads end: each byte is the length of one read (the
// last read takes the rest).
Outcome read(QByteArrayView body, QByteArrayView cuts)
{
    ServerSentEventReader reader(maxLine);
    Outcome outcome;
    qsizetype at = 0;
    for (qsizetype i = 0; i < cuts.size() && at < body.size(); ++i) {
        const qsizetype length = std::min<qsizetype>(body.size() - at, uint8_t(cuts[i]) % 64);
        reader.append(body.sliced(at, length));
        at += length;
        drain(reader, outcome);
    }
    reader.append(body.sliced(at));
    drain(reader, outcome);
    reader.finish();
    drain(reader, outcome);
    outcome.overflowed = reader.overflowed();
    return outcome;
}

} // namespace

// Input: one byte N, then N bytes of read lengths, then the body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cutCount = std::min<qsizetype>(uint8_t(input[0]), input.size() - 1);
    const QByteArrayView cuts = input.sliced(1, cutCount);
    const QByteArrayView body = input.sliced(1 + cutCount);

    const Outcome whole = read(body, {});
    const Outcome pieces = read(body, cuts);
    check(pieces.lines == whole.lines);
    check(pieces.events == whole.events);
    check(pieces.overflowed == whole.overflowed);

    // Byte by byte is the harshest split of all.
    if (body.size() <= 512) {
        const QByteArray ones(body.size(), '\1');
        const Outcome single = read(body, ones);
        check(single.lines == whole.lines && single.overflowed == whole.overflowed);
    }
    return 0;
}
