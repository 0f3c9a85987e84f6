#include "gateway/WireJson.h"

namespace nimbel::wire {

namespace {

// Nesting depth of a JSON text, counting brackets outside strings. Running it
// first keeps the parser away from absurdly deep documents.
bool nestingWithinLimit(QByteArrayView bytes)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : bytes) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxNestingDepth)
                return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

const Json *member(const Json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

} // namespace

std::optional<Json> parse(QByteArrayView bytes)
{
    if (!nestingWithinLimit(bytes))
        return std::nullopt;
    Json json = Json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded())
        return std::nullopt;
    return json;
}

QByteArray serialize(const OrderedJson &json)
{
    const std::string text = json.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

std::string toStd(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), size_t(utf8.size()));
}

QString toQString(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

OrderedJson stringArray(const QStringList &strings)
{
    OrderedJson array = OrderedJson::array();
    for (const QString &s : strings)
        array.push_back(toStd(s));
    return array;
}

const Json &requireObject(const Json &value)
{
    if (!value.is_object())
        throw DecodeError();
    return value;
}

QString requiredString(const Json &object, const char *key)
{
    const Json *value = member(object, key);
    if (!value || !value->is_string())
        throw DecodeError();
    return toQString(value->get_ref<const std::string &>());
}

std::optional<QString> optionalString(const Json &object, const char *key)
{
    const Json *value = member(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        throw DecodeError();
    return toQString(value->get_ref<const std::string &>());
}

std::optional<double> optionalDouble(const Json &object, const char *key)
{
    const Json *value = member(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_number())
        throw DecodeError();
    return value->get<double>();
}

double requiredDouble(const Json &object, const char *key)
{
    const auto value = optionalDouble(object, key);
    if (!value)
        throw DecodeError();
    return *value;
}

std::optional<bool> optionalBool(const Json &object, const char *key)
{
    const Json *value = member(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_boolean())
        throw DecodeError();
    return value->get<bool>();
}

const Json *optionalArray(const Json &object, const char *key)
{
    const Json *value = member(object, key);
    if (value && !value->is_array())
        throw DecodeError();
    return value;
}

} // namespace nimbel::wire
