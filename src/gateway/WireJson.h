#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <exception>
#include <optional>

namespace nimbel::wire {

// Requests are written with ordered objects so that keys go out in the order
// the wire formats fix. Answers are read into plain (sorted-map) objects: key
// lookup stays logarithmic even for hostile documents with millions of keys.
using OrderedJson = nlohmann::ordered_json;
using Json = nlohmann::json;

// Deeper documents are refused before parsing; no answer of the platform comes close.
inline constexpr int maxNestingDepth = 64;

// Parses a response body. Invalid JSON, invalid UTF-8 inside strings and
// documents nested deeper than maxNestingDepth give nullopt; never throws.
std::optional<Json> parse(QByteArrayView bytes);

// Compact UTF-8 serialisation (invalid text is replaced rather than throwing).
QByteArray serialize(const OrderedJson &json);

std::string toStd(const QString &text);
QString toQString(const std::string &text);
OrderedJson stringArray(const QStringList &strings);

// Thrown by the field readers below when an answer does not have the
// expected shape; decoders catch it and report "invalid".
struct DecodeError : std::exception
{
    const char *what() const noexcept override { return "unexpected JSON shape"; }
};

// Readers for one object field. "Optional" means missing or null; a present
// value of the wrong type is always an error.
const Json &requireObject(const Json &value);
QString requiredString(const Json &object, const char *key);
std::optional<QString> optionalString(const Json &object, const char *key);
std::optional<double> optionalDouble(const Json &object, const char *key);
double requiredDouble(const Json &object, const char *key);
std::optional<bool> optionalBool(const Json &object, const char *key);
// Missing or null gives nullptr; anything but an array throws.
const Json *optionalArray(const Json &object, const char *key);

} // namespace nimbel::wire
