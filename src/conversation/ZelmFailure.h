#pragma once

#include "core/ErrorDescription.h"

#include <QMetaType>
#include <QString>

#include <concepts>
#include <optional>

namespace nimbel {

// An error that knows what the owner can do about it. Error types offering it
// (screen-capture permission, microphone and speech authorisation) say so by
// answering these two questions; every other error has no recovery.
template<typename E>
concept ZelmRecoverableError = requires(const E &error) {
    { error.recovery() } -> std::same_as<ZelmRecovery>;
    { error.isPermissionProblem() } -> std::same_as<bool>;
};

// Any service error: it converts to the description the owner sees.
template<typename E>
concept DescribedError = requires(const E &error) {
    { error.toDescription() } -> std::same_as<ErrorDescription>;
};

// The failure shown to the owner (in the chat, or spoken in a voice session).
struct ZelmFailure
{
    Q_GADGET
    Q_PROPERTY(QString message MEMBER message)
    Q_PROPERTY(bool isPermissionProblem MEMBER isPermissionProblem)
    Q_PROPERTY(QString title READ title)
    Q_PROPERTY(QString actionTitle READ actionTitleText)
    Q_PROPERTY(bool hasAction READ hasAction)

public:
    QString message;
    ZelmRecovery recovery = ZelmRecovery::none;
    bool isPermissionProblem = false;

    static ZelmFailure from(const ErrorDescription &description);

    // Recovery information counts only when the error type offers it.
    template<DescribedError E>
    static ZelmFailure from(const E &error)
    {
        ZelmFailure failure = from(error.toDescription());
        if constexpr (ZelmRecoverableError<E>) {
            failure.recovery = error.recovery();
            failure.isPermissionProblem = error.isPermissionProblem();
        } else {
            failure.recovery = ZelmRecovery::none;
            failure.isPermissionProblem = false;
        }
        return failure;
    }

    // "Permission needed" or "That did not work", in the interface language.
    QString title() const;
    // The label of the recovery button; absent when there is nothing to do.
    std::optional<QString> actionTitle() const;
    bool hasAction() const { return recovery != ZelmRecovery::none; }

    bool operator==(const ZelmFailure &) const = default;

private:
    QString actionTitleText() const { return actionTitle().value_or(QString()); }
};

} // namespace nimbel

Q_DECLARE_METATYPE(nimbel::ZelmFailure)
