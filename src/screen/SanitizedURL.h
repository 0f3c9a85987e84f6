#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace nimbel {

// The web address of a page as it may leave the device: only http and https
// addresses with a host, without user, password and fragment, without the
// query items whose names carry credentials, at most 2000 characters.
// Anything else, or an address that does not parse, is absent.
std::optional<QString> sanitizedURL(const std::optional<QString> &text);

// True when a query item of this name is removed from a reported address: the
// name, lower-cased and with "-" read as "_", is one of the credential names.
bool isBlockedQueryName(QStringView name);

} // namespace nimbel
