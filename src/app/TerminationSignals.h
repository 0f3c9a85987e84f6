#pragma once

#include <QObject>

class QSocketNotifier;

namespace nimbel {

// SIGTERM and SIGINT (the session logging out, a service manager stopping
// us) end the event loop like "Quit" does, so that everything is torn down in
// order and nothing in flight (a key being stored) is lost.
class TerminationSignals final : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace nimbel
