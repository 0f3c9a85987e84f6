#pragma once

namespace nimbel {

// libatspi's bus connection, prepared once for the libatspi worker thread (and
// only ever used there); false while there is no accessibility bus.
bool ensureSession();
// Drops, unread, the replies that came too late for their call.
void dropLateReplies();

} // namespace nimbel
